// One entry per fuzz target. Each runs the input through a reader and checks what must hold
// for any input; false when something does not. The replay test calls the same entries.
#pragma once

#include <cstddef>
#include <cstdint>

bool fuzzImage(const uint8_t* data, size_t size);
bool fuzzInfo(const uint8_t* data, size_t size);
bool fuzzInflate(const uint8_t* data, size_t size);
bool fuzzRechecksum(const uint8_t* data, size_t size);

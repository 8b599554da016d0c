// One entry per fuzz target. Each runs the input through a reader and checks what must hold
// for any input; false when something does not. The replay test calls the same entries.
#pragma once

#include <cstddef>
#include <cstdint>

bool fuzzImage(const uint8_t* data, size_t size);
bool fuzzInfo(const uint8_t* data, size_t size);
bool fuzzInflate(const uint8_t* data, size_t size);
bool fuzzRechecksum(const uint8_t* data, size_t size);

// Bytes from the server.
bool fuzzDownload(const uint8_t* data, size_t size);
bool fuzzField(const uint8_t* data, size_t size);
bool fuzzToolRecord(const uint8_t* data, size_t size);
bool fuzzTable(const uint8_t* data, size_t size);
bool fuzzFirmwareList(const uint8_t* data, size_t size);
bool fuzzVersionReply(const uint8_t* data, size_t size);

// What the user types: the server address.
bool fuzzServerAddress(const uint8_t* data, size_t size);

// Bytes from the tool.
bool fuzzReplyAssembly(const uint8_t* data, size_t size);
bool fuzzStoredHeader(const uint8_t* data, size_t size);
bool fuzzStoredDirectory(const uint8_t* data, size_t size);

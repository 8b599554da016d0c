#pragma once

#include <cstdint>

struct ByteString;

// Standard reflected CRC-32, as zlib computes it; verifies downloads and accompanies uploads.
uint32_t checksumCrc32(const ByteString* bytes);

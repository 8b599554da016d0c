// Sections of a package image: reading one at a cursor and restoring compressed data.
#pragma once

#include <cstdint>

struct ByteString;
struct PackageSection;

// Reads the section at `*cursor` with the layout of format `version` and advances the cursor
// past it. Null, with the cursor left where it was, when the section runs past the end of
// `bytes`.
PackageSection* PackageSection_read(const ByteString* bytes, int32_t* cursor, int32_t version);

// A compressed block is a 15-digit decimal length, zero-padded on the left, then one zlib
// stream. Returns the uncompressed bytes; never null, empty when the block cannot be restored.
ByteString* PackageSection_inflate(const ByteString* block);

// Announced lengths above this are taken as corrupt instead of being allocated.
inline constexpr uint64_t kInflateMaxLength = uint64_t{256} << 20;
inline constexpr int32_t kInflatePrefixLength = 15;

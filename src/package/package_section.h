// Sections of a package image: reading one at a cursor and restoring compressed data.
#pragma once

#include <cstdint>

#include "package/firmware_package.h"

struct ByteString;

// What is left of kPackageDataLimit while one image loads. Every section reserves the bytes
// its data will hold (a compressed one its announced length) before it is inflated.
struct SectionBudget {
    int64_t remaining = kPackageDataLimit;
    bool exceeded = false;
};

// Reads the section at `*cursor` with the layout of format `version` and advances the cursor
// past it. Null, with the cursor left where it was, when the section runs past the end of
// `bytes` or its data does not fit the budget (then `exceeded` is set). Without a budget the
// section has the whole limit to itself.
PackageSection* PackageSection_read(const ByteString* bytes, int32_t* cursor, int32_t version,
                                    SectionBudget* budget = nullptr);

// A compressed block is a 15-digit decimal length, zero-padded on the left, then one zlib
// stream. Returns the uncompressed bytes; never null, empty when the block cannot be restored
// or announces more than kPackageDataLimit.
ByteString* PackageSection_inflate(const ByteString* block);

// The length a compressed block announces; more than kPackageDataLimit when it announces more,
// 0 when the block is too short to hold the prefix.
int64_t PackageSection_announcedLength(const ByteString* block);

inline constexpr int32_t kInflatePrefixLength = 15;

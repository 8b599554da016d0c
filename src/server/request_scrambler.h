// The request field of every server request travels scrambled with `requestPadTable`
// under a key that the server hands out just before.
#pragma once

#include <cstdint>

#include "server/request_trace.h"

struct ByteString;

// Distance between the pad entries of successive bytes: 1 to 2047.
int32_t RequestScrambler_step(int32_t key);
// Pad entry for running value r: 0 to 2047. For non-negative values these are plain
// remainders; negative keys, which the server never sends, wrap round the same way.
int32_t RequestScrambler_index(int64_t r);

// "%XX" per request byte, XX the upper-case hex of the scrambled byte. Writes one line
// "byte pad out" per byte to `trace` when it is set.
ByteString* RequestScrambler_encode(const ByteString* request, int32_t key,
                                    const RequestTraceFn& trace);

#pragma once

#include <cstdint>

struct ByteString;

// The server's numbers: optional leading white space and sign, then digits up to the first
// non-digit; 0 when there are none. Values beyond the 32-bit range stop at its ends.
int32_t decimalValue(const ByteString* text);

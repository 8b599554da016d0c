// Re-blocks an extra file from 2048-byte blocks to the 256-byte pages some tools write.
#pragma once

struct ByteString;

inline constexpr int kRechecksumInBlock = 2048;
inline constexpr int kRechecksumOutBlock = 256;

// Input: blocks of 2048 data bytes, each followed by the 2-byte sum of its bytes (low byte
// first); a last, shorter block of data and sum may follow. Output: the same data in blocks
// of up to 256 bytes, each followed by its own sum. The sum of every whole input block is
// verified, null when one differs; the last partial block's sum is not. One or two bytes
// after the last whole block are dropped; inputs of 3 bytes or fewer give an empty result.
// The input stays the caller's.
ByteString* RechecksumTo256(const ByteString* input);

// Re-blocks an extra file from 2048-byte blocks to the 256-byte pages some tools write.
#pragma once

struct ByteString;

inline constexpr int kRechecksumInBlock = 2048;
inline constexpr int kRechecksumOutBlock = 256;

// Input: blocks of up to 2048 data bytes, each followed by the 2-byte sum of its bytes (low
// byte first); only the last block may be shorter. Output: the same data in blocks of up to
// 256 bytes, each followed by its own sum. Every input block's sum is verified; null when
// one differs or when the input cannot be split into blocks with checksums. Inputs of fewer
// than 3 bytes hold no data and give an empty result. The input stays the caller's.
ByteString* RechecksumTo256(const ByteString* input);

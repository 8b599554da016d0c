// The frames the host sends: the normal form with its own header and checksum, and the raw
// form that carries a pre-built image record through unchanged.
#pragma once

#include <cstdint>

struct ByteString;

inline constexpr uint8_t kFrameStart = 0x3B;     // ';'
inline constexpr uint8_t kRawFrameStart = 0x3A;  // ':', except for Bluetooth records
inline constexpr uint8_t kFramePadding = 0x58;   // 'X'
inline constexpr int32_t kSeedComputed = -1;
inline constexpr int32_t kFrameCapacity = 300;

// A new frame owned by the caller. `payload` may be null; the length field is sent only when
// `length` > 0. With `raw` set the body (length field and payload) follows the start byte and
// the word count unpadded; otherwise `seed` -1 sums the frame, any other value stands for the
// body in the checksum.
ByteString* ToolFrame_build(uint32_t command, uint32_t address, int32_t length,
                            const ByteString* payload, uint8_t raw, int32_t seed);

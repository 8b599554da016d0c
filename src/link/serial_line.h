// Line settings of the tool's serial device.
#pragma once

#include <cstdint>

inline constexpr uint32_t kToolBitRate = 256000;

// Sets exactly `bitsPerSecond` and a transparent 8-bit line: no echo, no canonical input, no
// character translation, 8N1, receiver on, modem lines ignored. 0 on success, else -1 with
// errno set (a device that is no terminal, or a driver that cannot run at that rate).
int SerialLine_configure(int descriptor, uint32_t bitsPerSecond);

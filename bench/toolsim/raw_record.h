// The records of the bench's raw images: bootloaders, firmware and the Bluetooth module's
// image. The host passes each record through unchanged (one raw frame per record); the
// virtual tool reads its header to know where the data goes.
//
// Record layout (little-endian):
//   byte 0     target: bits 0-6 the RawTarget, bit 7 set on the last record of the image
//   bytes 1-3  offset of the data inside the target's program area
//   bytes 4-5  number of data bytes that follow
//   bytes 6-   the data
//
// Every record carries exactly the block size of its target's writes in data bytes (384 for
// bootloaders and firmware on a serial link, 256 for the Bluetooth module), so each record
// fills one chunk of the host's image write; the last record is padded with 0xFF.
//
// What the virtual tool reads out of a program once it is written:
//   boot slot program   bytes 0-3: its bootloader version text, such as "1.23"
//   firmware program    bytes 0-29: the identity block it brings (layout of the tool's block
//                       at 0xC00: version number, family code, detail groups, build, variant)
//   Bluetooth program   byte 0: the module's firmware version
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

enum class RawTarget : uint8_t {
    BootSlot0 = 0,
    BootSlot1 = 1,
    Firmware = 2,
    BluetoothModule = 3,
};

inline constexpr int kRawHeaderSize = 6;
inline constexpr uint8_t kRawLastRecord = 0x80;
inline constexpr int kRawTargetCount = 4;
inline constexpr int kBootRecordData = 384;
inline constexpr int kBluetoothRecordData = 256;

struct RawRecordHeader {
    RawTarget target = RawTarget::Firmware;
    bool last = false;
    uint32_t offset = 0;  // 24 bits
    uint16_t length = 0;
};

void RawRecord_encodeHeader(const RawRecordHeader& header, uint8_t out[kRawHeaderSize]);
// Null when the target byte names no target.
std::optional<RawRecordHeader> RawRecord_decodeHeader(std::span<const uint8_t> bytes);

// A whole image for `target`: `program` cut into records of `recordData` data bytes.
std::vector<uint8_t> RawImage_build(RawTarget target, std::span<const uint8_t> program,
                                    int recordData);

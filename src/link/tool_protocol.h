// The tool's command codes, fixed addresses and sizes, shared by the link and the bench's tool.
#pragma once

#include <cstdint>

enum class ToolCommand : uint32_t {
    ReadBootloaderVersion = 2,
    ReadMemory = 3,   // byte address: identity and configuration blocks
    WriteBlock = 4,   // byte address
    EraseBlocks = 5,  // packed range of 64 KB units
    Reboot = 8,
    ReadRunMode = 9,
    ReadData = 11,  // data memory, byte address
    ReadOptionCode = 13,
    WriteSector = 16,    // data memory, 512-byte sector number
    ReadDataBlock = 17,  // data memory, 512-byte block number
    ReadBluetoothVersion = 18,
    BluetoothRecord = 19,  // raw records of the Bluetooth module's image
    StartBluetoothUpdate = 20,
    PrepareBluetoothModule = 21,
    EnterBootloader = 22,
    OpenRawTransfer = 23,
};

constexpr uint32_t commandCode(ToolCommand c) {
    return static_cast<uint32_t>(c);
}

namespace tool {

inline constexpr uint32_t kIdentityAddress = 0xC00;
inline constexpr int32_t kIdentitySize = 30;
inline constexpr uint32_t kConfigurationAddress = 0x7FC000;
inline constexpr int32_t kConfigurationSize = 46;
inline constexpr uint32_t kRebootAddress = 0x430C21;
inline constexpr uint32_t kRunModeAddress = 0x1F441C;
inline constexpr uint32_t kBluetoothVersionAddress = 0x18010;
inline constexpr uint32_t kEraseRangeBase = 0x350000;
inline constexpr uint32_t kFirmwareIdAddress = 0;

inline constexpr int32_t kBootVersionReplySize = 5;  // a letter, then D.DD
inline constexpr int32_t kSectorSize = 512;
inline constexpr int32_t kEraseUnitSize = 65536;
inline constexpr uint32_t kStoredFileAddress = 0x6C0000;     // single backup file, byte address
inline constexpr uint32_t kStoredDirectoryBlock = 0x600000;  // backup directory, block number
inline constexpr int32_t kMaxStoredFileSize = 0x500000;

// Time-outs in hundreds of polling passes: a plain command and a slow one (erase, file read).
inline constexpr int32_t kTimeoutShort = 500;
inline constexpr int32_t kTimeoutLong = 5000;

inline constexpr uint8_t kReplyEnd = 'O';
inline constexpr uint8_t kRefusal = 'E';

}  // namespace tool

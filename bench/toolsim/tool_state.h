// What the virtual tool is when it starts: its bootloaders, identity and configuration
// blocks, option code, Bluetooth module, installed firmware id and the backup files it holds.
// Loaded from a JSON file (see toolsim/README in the header of tool_state.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

class SparseMemory;

inline constexpr int kIdentityBlockSize = 30;
inline constexpr int kConfigurationBlockSize = 46;

// A backup file the tool keeps in its data memory: a 512-byte header block, then the content.
struct StoredFile {
    std::string header1;  // 17 bytes, padded with zeros
    std::string header2;  // up to 18 bytes
    uint16_t number = 0;
    std::vector<uint8_t> content;
};

enum class StoredFileLayout {
    None,
    Single,     // one file at byte address 0x6C0000
    Directory,  // a directory at block 0x600000, the files after it
};

struct IdentityValues {
    int firmwareVersion = 218;            // 218 stands for 2.18
    std::string family = "KTX";           // 3 characters
    std::array<int, 3> detail{2, 18, 4};  // 2.18.04
    int build = 1;
    int variant = 0;
};

struct MemoryPreset {
    uint64_t address = 0;  // data memory, byte address
    std::vector<uint8_t> bytes;
};

struct ToolState {
    char bootLetter = 'B';
    std::array<std::string, 2> bootSlotVersions{"1.23", "1.23"};  // D.DD each
    int runMode = 1;  // the program running: 0 or 1 name boot slots
    std::array<uint8_t, kIdentityBlockSize> identity{};
    std::array<uint8_t, kConfigurationBlockSize> configuration{};
    int firmwareId = 0;  // 16 bits at data address 0
    int optionCode = 0;  // 1: a Bluetooth module is fitted
    int bluetoothVersion = 0;
    StoredFileLayout storedFileLayout = StoredFileLayout::None;
    std::vector<StoredFile> storedFiles;
    std::vector<MemoryPreset> memory;
};

std::array<uint8_t, kIdentityBlockSize> IdentityBlock_build(const IdentityValues& values);
std::array<uint8_t, kConfigurationBlockSize> ConfigurationBlock_build(int hardwareId,
                                                                      uint32_t serialNumber);

// A tool at bootloader 1.23 running slot 1, firmware 2.18.04 build 1, hardware id 0x1234.
ToolState ToolState_default();
std::optional<ToolState> ToolState_fromJson(const nlohmann::json& json, std::string* error);
std::optional<ToolState> ToolState_load(const std::string& path, std::string* error);

// A bootloader version text as a number: "1.23" gives 123; anything else -1.
int ToolState_versionNumber(const std::string& text);
// The first 512-byte block of a stored file.
std::vector<uint8_t> StoredFile_headerBlock(const StoredFile& file);
// Writes firmware id, presets and backup files into the tool's data memory.
void ToolState_fillDataMemory(const ToolState& state, SparseMemory& memory);
// Block number where file g of a directory layout starts.
uint64_t StoredFile_directoryBlock(const ToolState& state, size_t g);

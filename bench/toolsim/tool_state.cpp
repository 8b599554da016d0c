// State file format (every key optional; absent keys keep the defaults of ToolState_default):
// {
//   "bootLetter": "B",
//   "bootSlots": ["1.18", "1.23"],          bootloader version of slot 0 and slot 1
//   "runMode": 1,                           program running: 0 or 1 name a boot slot
//   "identity": {"firmwareVersion": 218, "family": "KTX", "detail": [2, 18, 4],
//                "build": 7, "variant": 3}, or "identityHex": "<60 hex digits>"
//   "configuration": {"hardwareId": 4660, "serialNumber": 123456},
//                                           or "configurationHex": "<92 hex digits>"
//   "firmwareId": 512,                      installed firmware id, at data address 0
//   "optionCode": 1,
//   "bluetoothVersion": 4,
//   "storedFiles": {"layout": "single" | "directory",
//                   "files": [{"header1": "SA...", "header2": "...", "number": 2,
//                              "text": "..." | "hex": "..." | "size": 1500}]},
//   "memory": [{"address": 7077888, "hex": "..."}]   data memory presets, byte addresses
// }
#include "toolsim/tool_state.h"

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "link/tool_protocol.h"
#include "toolsim/sparse_memory.h"

using nlohmann::json;

namespace {

constexpr int kBlock = tool::kSectorSize;

std::vector<uint8_t> fromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) throw std::runtime_error("odd number of hex digits");
    std::vector<uint8_t> out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

template <size_t N>
std::array<uint8_t, N> fixedFromHex(const std::string& hex, const char* what) {
    std::vector<uint8_t> bytes = fromHex(hex);
    if (bytes.size() != N) throw std::runtime_error(std::string(what) + " has the wrong size");
    std::array<uint8_t, N> out{};
    std::memcpy(out.data(), bytes.data(), N);
    return out;
}

void putLittle(uint8_t* at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

StoredFile storedFileFromJson(const json& j) {
    StoredFile f;
    f.header1 = j.value("header1", "");
    f.header2 = j.value("header2", "");
    f.number = j.value<uint16_t>("number", 0);
    if (j.contains("text")) {
        std::string text = j.at("text").get<std::string>();
        f.content.assign(text.begin(), text.end());
    } else if (j.contains("hex")) {
        f.content = fromHex(j.at("hex").get<std::string>());
    } else {
        size_t size = j.value<size_t>("size", 0);
        for (size_t i = 0; i < size; ++i) f.content.push_back(static_cast<uint8_t>(i * 7 + 3));
    }
    return f;
}

void applyJson(const json& j, ToolState& s) {
    if (j.contains("bootLetter")) {
        std::string letter = j.at("bootLetter").get<std::string>();
        if (letter.size() != 1) throw std::runtime_error("bootLetter is one character");
        s.bootLetter = letter[0];
    }
    if (j.contains("bootSlots")) {
        auto slots = j.at("bootSlots").get<std::vector<std::string>>();
        if (slots.size() != 2) throw std::runtime_error("bootSlots holds two versions");
        s.bootSlotVersions = {slots[0], slots[1]};
    }
    s.runMode = j.value("runMode", s.runMode);
    if (j.contains("identity")) {
        const json& id = j.at("identity");
        IdentityValues v;
        v.firmwareVersion = id.value("firmwareVersion", v.firmwareVersion);
        v.family = id.value("family", v.family);
        if (id.contains("detail")) v.detail = id.at("detail").get<std::array<int, 3>>();
        v.build = id.value("build", v.build);
        v.variant = id.value("variant", v.variant);
        s.identity = IdentityBlock_build(v);
    }
    if (j.contains("identityHex")) {
        s.identity =
            fixedFromHex<kIdentityBlockSize>(j.at("identityHex").get<std::string>(), "identityHex");
    }
    if (j.contains("configuration")) {
        const json& c = j.at("configuration");
        s.configuration = ConfigurationBlock_build(c.value("hardwareId", 0),
                                                   c.value<uint32_t>("serialNumber", 0));
    }
    if (j.contains("configurationHex")) {
        s.configuration = fixedFromHex<kConfigurationBlockSize>(
            j.at("configurationHex").get<std::string>(), "configurationHex");
    }
    s.firmwareId = j.value("firmwareId", s.firmwareId);
    s.optionCode = j.value("optionCode", s.optionCode);
    s.bluetoothVersion = j.value("bluetoothVersion", s.bluetoothVersion);
    if (j.contains("storedFiles")) {
        const json& sf = j.at("storedFiles");
        std::string layout = sf.value("layout", "none");
        if (layout == "single") {
            s.storedFileLayout = StoredFileLayout::Single;
        } else if (layout == "directory") {
            s.storedFileLayout = StoredFileLayout::Directory;
        } else if (layout == "none") {
            s.storedFileLayout = StoredFileLayout::None;
        } else {
            throw std::runtime_error("storedFiles.layout is single, directory or none");
        }
        s.storedFiles.clear();
        for (const json& f : sf.value("files", json::array())) {
            s.storedFiles.push_back(storedFileFromJson(f));
        }
        if (s.storedFileLayout == StoredFileLayout::Single && s.storedFiles.size() > 1) {
            throw std::runtime_error("the single layout holds one file");
        }
    }
    for (const json& m : j.value("memory", json::array())) {
        s.memory.push_back(
            {m.at("address").get<uint64_t>(), fromHex(m.at("hex").get<std::string>())});
    }
}

}  // namespace

std::array<uint8_t, kIdentityBlockSize> IdentityBlock_build(const IdentityValues& v) {
    std::array<uint8_t, kIdentityBlockSize> b{};
    b[0] = static_cast<uint8_t>(v.firmwareVersion >> 16);
    b[1] = static_cast<uint8_t>(v.firmwareVersion >> 8);
    b[2] = static_cast<uint8_t>(v.firmwareVersion);
    for (size_t i = 0; i < 3 && i < v.family.size(); ++i)
        b[9 + i] = static_cast<uint8_t>(v.family[i]);
    for (int i = 0; i < 3; ++i) b[12 + i] = static_cast<uint8_t>(v.detail[i]);
    b[16] = static_cast<uint8_t>(v.build >> 8);
    b[17] = static_cast<uint8_t>(v.build);
    b[29] = static_cast<uint8_t>(v.variant);
    return b;
}

std::array<uint8_t, kConfigurationBlockSize> ConfigurationBlock_build(int hardwareId,
                                                                      uint32_t serialNumber) {
    std::array<uint8_t, kConfigurationBlockSize> b{};
    putLittle(b.data() + 30, static_cast<uint32_t>(hardwareId), 2);
    putLittle(b.data() + 42, serialNumber, 4);
    return b;
}

ToolState ToolState_default() {
    ToolState s;
    s.identity = IdentityBlock_build(IdentityValues{});
    s.configuration = ConfigurationBlock_build(0x1234, 100001);
    return s;
}

std::optional<ToolState> ToolState_fromJson(const json& j, std::string* error) {
    ToolState s = ToolState_default();
    try {
        if (!j.is_object()) throw std::runtime_error("the state is a JSON object");
        applyJson(j, s);
    } catch (const std::exception& e) {
        if (error != nullptr) *error = e.what();
        return std::nullopt;
    }
    return s;
}

std::optional<ToolState> ToolState_load(const std::string& path, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        if (error != nullptr) *error = "cannot read " + path;
        return std::nullopt;
    }
    json j = json::parse(in, nullptr, false);
    if (j.is_discarded()) {
        if (error != nullptr) *error = path + " is not valid JSON";
        return std::nullopt;
    }
    return ToolState_fromJson(j, error);
}

std::vector<uint8_t> StoredFile_headerBlock(const StoredFile& f) {
    std::vector<uint8_t> b(kBlock, 0);
    putLittle(b.data() + 2, kBlock + f.content.size(), 4);  // the size counts this block too
    putLittle(b.data() + 6, f.number, 2);
    std::memcpy(b.data() + 8, f.header1.data(), std::min<size_t>(f.header1.size(), 17));
    std::memcpy(b.data() + 25, f.header2.data(), std::min<size_t>(f.header2.size(), 18));
    return b;
}

uint64_t StoredFile_directoryBlock(const ToolState& s, size_t g) {
    const uint64_t directoryBytes = 8 + 4 * s.storedFiles.size();
    uint64_t block = tool::kStoredDirectoryBlock + (directoryBytes + kBlock - 1) / kBlock;
    for (size_t i = 0; i < g && i < s.storedFiles.size(); ++i) {
        block += (kBlock + s.storedFiles[i].content.size() + kBlock - 1) / kBlock;
    }
    return block;
}

void ToolState_fillDataMemory(const ToolState& s, SparseMemory& memory) {
    uint8_t id[2];
    putLittle(id, static_cast<uint32_t>(s.firmwareId), 2);
    memory.write(tool::kFirmwareIdAddress, id);
    for (const MemoryPreset& m : s.memory) memory.write(m.address, m.bytes);

    auto writeFile = [&](uint64_t address, const StoredFile& f) {
        memory.write(address, StoredFile_headerBlock(f));
        memory.write(address + kBlock, f.content);
    };
    if (s.storedFileLayout == StoredFileLayout::Single && !s.storedFiles.empty()) {
        writeFile(tool::kStoredFileAddress, s.storedFiles.front());
    } else if (s.storedFileLayout == StoredFileLayout::Directory) {
        // Count at bytes 4-5; entry g at 8 + 4g holds twice the file's block number in its
        // upper three bytes.
        std::vector<uint8_t> directory(8 + 4 * s.storedFiles.size(), 0);
        putLittle(directory.data() + 4, s.storedFiles.size(), 2);
        for (size_t g = 0; g < s.storedFiles.size(); ++g) {
            const uint64_t block = StoredFile_directoryBlock(s, g);
            putLittle(directory.data() + 9 + 4 * g, block * 2, 3);
            writeFile(block * kBlock, s.storedFiles[g]);
        }
        memory.write(uint64_t{tool::kStoredDirectoryBlock} * kBlock, directory);
    }
}

int ToolState_versionNumber(const std::string& text) {
    if (text.size() != 4 || text[1] != '.') return -1;
    for (int i : {0, 2, 3}) {
        if (text[static_cast<size_t>(i)] < '0' || text[static_cast<size_t>(i)] > '9') return -1;
    }
    return (text[0] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0');
}

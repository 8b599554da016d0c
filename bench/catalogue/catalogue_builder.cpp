#include "catalogue/catalogue_builder.h"

#include <cstdio>
#include <fstream>

namespace catalogue {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

void writeBytes(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void writeText(const fs::path& path, const std::string& text) {
    writeBytes(path, Bytes(text.begin(), text.end()));
}

packwriter::Section section(const std::string& name, Bytes data, bool compressed) {
    packwriter::Section s;
    s.name = name;
    s.data = std::move(data);
    s.compressed = compressed;
    return s;
}

}  // namespace

Bytes patternBytes(size_t size, uint32_t seed) {
    Bytes bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

Bytes bootImage(int slot, const std::string& version, size_t programSize) {
    Bytes program = patternBytes(programSize, static_cast<uint32_t>(slot * 100 + version.size()));
    std::copy(version.begin(), version.end(), program.begin());
    return RawImage_build(slot == 0 ? RawTarget::BootSlot0 : RawTarget::BootSlot1, program,
                          kBootRecordData);
}

packwriter::Boot bootRecord(int slot, const std::string& version, bool compressed) {
    packwriter::Boot boot;
    boot.slot = static_cast<uint8_t>(slot);
    boot.address = slot == 0 ? 0x08000000u : 0x08004000u;
    boot.name = version;
    boot.section = section("boot" + std::to_string(slot), bootImage(slot, version), compressed);
    return boot;
}

std::string versionText(const IdentityValues& identity) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d.%02d", identity.detail[0] % 10,
                  identity.detail[1] % 100, identity.detail[2] % 100);
    return text;
}

Bytes firmwareProgram(const IdentityValues& identity, size_t programSize) {
    Bytes program = patternBytes(programSize, static_cast<uint32_t>(identity.firmwareVersion));
    const auto block = IdentityBlock_build(identity);
    std::copy(block.begin(), block.end(), program.begin());
    return RawImage_build(RawTarget::Firmware, program, kBootRecordData);
}

packwriter::Firmware firmwareRecord(const IdentityValues& identity, size_t programSize,
                                    bool compressed) {
    packwriter::Firmware firmware;
    firmware.name = versionText(identity);
    firmware.build = static_cast<uint16_t>(identity.build);
    firmware.section = section("firmware", firmwareProgram(identity, programSize), compressed);
    return firmware;
}

packwriter::FileGroup memoryFile(const std::string& name, uint8_t kind, uint32_t start,
                                 uint32_t eraseCount, Bytes data, bool checksumTrailer,
                                 bool compressed, std::string externalName) {
    packwriter::FileGroup group;
    group.kind = kind;
    group.start = start;
    group.eraseCount = eraseCount;
    packwriter::FileEntry entry;
    entry.name = name;
    entry.target = "mem";
    entry.version1 = 3;
    entry.version2 = 1;
    entry.checksumTrailer = checksumTrailer ? 1 : 0;
    entry.section = section(name, std::move(data), compressed);
    if (!externalName.empty()) entry.section.externalName = externalName;
    group.entries.push_back(std::move(entry));
    return group;
}

packwriter::FileGroup cpakArea(uint8_t kind, uint32_t start, uint32_t eraseCount) {
    packwriter::FileGroup group;
    group.kind = kind;
    group.start = start;
    group.eraseCount = eraseCount;
    group.nameOnly = "CPAK";
    return group;
}

Bytes checksummedBlocks(const Bytes& content, size_t blockSize) {
    Bytes out;
    for (size_t at = 0; at < content.size(); at += blockSize) {
        const size_t n = std::min(blockSize, content.size() - at);
        uint32_t sum = 0;
        for (size_t i = 0; i < n; ++i) {
            out.push_back(content[at + i]);
            sum += content[at + i];
        }
        out.push_back(static_cast<uint8_t>(sum & 0xFF));
        out.push_back(static_cast<uint8_t>((sum >> 8) & 0xFF));
    }
    return out;
}

Bytes writtenBlocks(const Bytes& content, size_t blockSize) {
    Bytes out = content;
    out.resize((content.size() + blockSize - 1) / blockSize * blockSize, 0);
    return out;
}

Bytes bluetoothImage(int version, size_t programSize) {
    Bytes program = patternBytes(programSize, 0xB1E);
    program[0] = static_cast<uint8_t>(version);
    return RawImage_build(RawTarget::BluetoothModule, program, kBluetoothRecordData);
}

void writeRelease(const fs::path& catalogueDir, uint32_t id, const packwriter::Image& image) {
    const fs::path folder = catalogueDir / "ktxFirmwares";
    writeBytes(folder / (std::to_string(id) + ".gfr"), packwriter::writeImage(image));
    writeText(folder / (std::to_string(id) + ".gfi"),
              packwriter::writeInfo(packwriter::describe(image)));
    for (const auto& record : image.records) {
        const auto* group = std::get_if<packwriter::FileGroup>(&record);
        if (group == nullptr) continue;
        for (const auto& entry : group->entries) {
            if (entry.section.externalName) {
                writeBytes(catalogueDir / *entry.section.externalName,
                           packwriter::externalFile(entry.section));
            }
        }
    }
}

IdentityValues identityOf(int major, int minor, int patch, int build) {
    IdentityValues v;
    v.firmwareVersion = major * 100 + minor;
    v.detail = {major, minor, patch};
    v.build = build;
    return v;
}

namespace {

json firmwareEntry(const IdentityValues& v, uint32_t id) {
    return {{"deviceFamily", "KTX"},
            {"firmwareVersion", versionText(v)},
            {"variantCode", 0},
            {"firmwareId", id}};
}

json toolState(const std::string& boot, const IdentityValues& v, uint32_t firmwareId,
               int hardwareId, uint32_t serial, int optionCode) {
    return {{"bootSlots", {boot, boot}},
            {"runMode", 1},
            {"identity",
             {{"firmwareVersion", v.firmwareVersion},
              {"family", "KTX"},
              {"detail", {v.detail[0], v.detail[1], v.detail[2]}},
              {"build", v.build}}},
            {"configuration", {{"hardwareId", hardwareId}, {"serialNumber", serial}}},
            {"firmwareId", firmwareId},
            {"optionCode", optionCode},
            {"bluetoothVersion", 3}};
}

}  // namespace

bool writeDemoCatalogue(const fs::path& dir, const fs::path& stateDir, std::string* error) {
    try {
        const IdentityValues installed = identityOf(2, 18, 4, 1);
        const IdentityValues spring = identityOf(3, 1, 2, 40);   // format 8, bootloader 1.24
        const IdentityValues legacy = identityOf(2, 10, 1, 12);  // format 6, bootloader 1.16
        const IdentityValues basic = identityOf(2, 5, 3, 7);     // format 5, no memories

        // The release the tool runs now: its description lets identification find it.
        packwriter::Image current;
        current.format = 8;
        current.fsn = "FD";
        current.fln = "Ford";
        current.des = "Installed release";
        current.records = {
            bootRecord(0, "1.20"), bootRecord(1, "1.20"), firmwareRecord(installed, 64 * 1024),
            memoryFile("CALIB.BIN", 1, 16, 2, checksummedBlocks(patternBytes(6000, 7)), true),
            cpakArea(1, 40, 4)};
        writeRelease(dir, 812, current);

        // Spring release: both bootloaders newer, compressed, stored and external sections,
        // a memory file of kind 1 and one of kind 2, the extra-file area in kind 1.
        packwriter::Image image;
        image.format = 8;
        image.fsn = "FD";
        image.fln = "Ford";
        image.des = "Spring release";
        image.records = {
            bootRecord(0, "1.24"),
            bootRecord(1, "1.24", false),
            firmwareRecord(spring, 256 * 1024),
            memoryFile("CALIB.BIN", 1, 16, 2, checksummedBlocks(patternBytes(7000, 8)), true),
            memoryFile("VEHICLES.DAT", 2, 9000, 0, patternBytes(3000, 9), false, true,
                       "ktxFirmwares/900_vehicles.bin"),
            memoryFile("LOGO.BMP", 2, 9100, 0, patternBytes(1500, 10), false, false),
            cpakArea(1, 40, 4)};
        writeRelease(dir, 900, image);

        // A legacy release: bootloader below 1.18, format 6, the extra-file area in kind 2.
        packwriter::Image old;
        old.format = 6;
        old.fsn = "FD";
        old.fln = "Ford";
        old.des = "Legacy release";
        old.records = {bootRecord(0, "1.16"), bootRecord(1, "1.16"),
                       firmwareRecord(legacy, 96 * 1024, false),
                       memoryFile("MAP.DAT", 2, 8000, 0, patternBytes(2500, 11), false, true),
                       cpakArea(2, 12000, 0)};
        writeRelease(dir, 700, old);

        // A plain release in format 5: bootloaders and firmware only.
        packwriter::Image plain;
        plain.format = 5;
        plain.fsn = "FD";
        plain.fln = "Ford";
        plain.des = "Plain release";
        plain.records = {bootRecord(0, "1.20"), bootRecord(1, "1.20"),
                         firmwareRecord(basic, 48 * 1024)};
        writeRelease(dir, 650, plain);

        // Extra files of user 77 and the Bluetooth module files.
        json userFiles = json::array();
        const size_t sizes[] = {5000, 100, 2048, 9000};
        for (size_t i = 0; i < std::size(sizes); ++i) {
            std::string name = "user77_" + std::to_string(i + 1) + ".bin";
            writeBytes(dir / "ktxUserFiles" / name,
                       checksummedBlocks(patternBytes(sizes[i], static_cast<uint32_t>(20 + i))));
            userFiles.push_back(name);
        }
        writeText(dir / "KTX2_BLEVersion.txt", "7\n");
        writeBytes(dir / "Enc_KTX2_BLE_CODE.BIN", bluetoothImage(7));

        json records = {
            {"updaterVersion", "1.3"},
            {"tools",
             {{{"serialNumber", 100200},
               {"hardwareId", 0x0201},
               {"name", "KTX2 Demo"},
               {"vehicle1", "Ford"},
               {"vehicle2", "Focus"},
               {"userNumber", 77},
               {"manualCode1", "EN"},
               {"manualCode2", "F"},
               {"firmwareList",
                "3.01.02:900:CURRENT:Spring release#2.10.01:700:OLD:Legacy release#2.05.03:650:OLD:"
                "Plain release#"},
               {"installedFirmwareId", 812},
               {"userFileCount", 0},
               {"userFiles", userFiles}}}},
            {"firmware",
             {firmwareEntry(installed, 812), firmwareEntry(spring, 900), firmwareEntry(legacy, 700),
              firmwareEntry(basic, 650)}}};
        writeText(stateDir / "records.json", records.dump(2));

        // The demo tool, with one backup file the server does not hold yet.
        json state = toolState("1.20", installed, 812, 0x0201, 100200, 1);
        json backups = {{"layout", "single"},
                        {"files",
                         {{{"header1", "SA-DEMO-BACKUP-01"},
                           {"header2", "Focus 2019"},
                           {"number", 3},
                           {"size", 3000}}}}};
        state["storedFiles"] = backups;
        writeText(stateDir / "demo-tool.json", state.dump(2));
        return true;
    } catch (const std::exception& e) {
        if (error != nullptr) *error = e.what();
        return false;
    }
}

}  // namespace catalogue

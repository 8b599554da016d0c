// What the bench server knows besides its catalogue folder, read from a JSON file:
//
// { "updaterVersion": "1.3",
//   "tools": [ { "serialNumber": 100200, "hardwareId": 513, "name": "KTX2 Demo",
//                "vehicle1": "Ford", "vehicle2": "Focus", "userNumber": 77,
//                "manualCode1": "EN", "manualCode2": "KTX2",
//                "firmwareList": "1.02.03:812:CURRENT:Latest release#",
//                "installedFirmwareId": 812, "userFileCount": 0,
//                "userFiles": ["a.bin", "b.bin"] } ],
//   "firmware": [ { "deviceFamily": "KTX", "firmwareVersion": "1.02.03",
//                   "variantCode": 0, "firmwareId": 812 } ],
//   "userFileVersions": [ { "header1": "SA...", "header2": "...", "number": 1 } ] }
//
// A tool without "serialNumber" stands for every tool with its "hardwareId". "userFiles"
// may also be a whole table: { "columns": [...], "rows": [[...], ...], "rowCount": n }, where
// "rowCount" (optional) is the count announced, true or not.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct BenchTool {
    std::optional<uint32_t> serialNumber;
    std::optional<uint32_t> hardwareId;
    std::string name, vehicle1, vehicle2, manualCode1, manualCode2, firmwareList;
    int32_t userNumber = 0;  // signed, as the updater reads it
    std::optional<uint32_t> installedFirmwareId;
    int32_t userFileCount = 0;
    std::vector<std::string> fileColumns{"filename"};
    std::vector<std::vector<std::string>> fileRows;
    std::optional<int64_t> announcedRowCount;
};

struct BenchFirmware {
    std::string deviceFamily, firmwareVersion;
    uint32_t variantCode = 0;
    uint32_t firmwareId = 0;
};

struct BenchFileVersion {
    std::string header1, header2;
    uint32_t number = 0;
    bool operator==(const BenchFileVersion&) const = default;
};

struct ToolRecords {
    std::string updaterVersion = "1.3";
    std::vector<BenchTool> tools;
    std::vector<BenchFirmware> firmware;
    std::vector<BenchFileVersion> userFileVersions;

    const BenchTool* findTool(uint32_t serialNumber, uint32_t hardwareId) const;
    BenchTool* findUser(int32_t userNumber);
    const BenchFirmware* findFirmware(const std::string& family, const std::string& version,
                                      uint32_t variant) const;
};

// Nothing when the file cannot be read or is not such a JSON text (`error` says why).
std::optional<ToolRecords> ToolRecords_load(const std::filesystem::path& path, std::string* error);

#include "tool_records.h"

#include <fstream>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

template <typename T>
std::optional<T> optionalValue(const json& j, const char* key) {
    if (!j.contains(key) || j[key].is_null()) return std::nullopt;
    return j[key].get<T>();
}

std::string text(const json& j, const char* key) {
    return j.value(key, std::string());
}

BenchTool readTool(const json& j) {
    BenchTool tool;
    tool.serialNumber = optionalValue<uint32_t>(j, "serialNumber");
    tool.hardwareId = optionalValue<uint32_t>(j, "hardwareId");
    tool.name = text(j, "name");
    tool.vehicle1 = text(j, "vehicle1");
    tool.vehicle2 = text(j, "vehicle2");
    tool.manualCode1 = text(j, "manualCode1");
    tool.manualCode2 = text(j, "manualCode2");
    tool.firmwareList = text(j, "firmwareList");
    tool.userNumber = j.value("userNumber", 0);
    tool.installedFirmwareId = optionalValue<uint32_t>(j, "installedFirmwareId");
    tool.userFileCount = j.value("userFileCount", 0);
    if (j.contains("userFiles")) {
        const json& files = j["userFiles"];
        if (files.is_array()) {
            for (const auto& name : files) tool.fileRows.push_back({name.get<std::string>()});
        } else {
            tool.fileColumns = files.at("columns").get<std::vector<std::string>>();
            tool.fileRows = files.at("rows").get<std::vector<std::vector<std::string>>>();
            tool.announcedRowCount = optionalValue<int64_t>(files, "rowCount");
        }
    }
    return tool;
}

}  // namespace

const BenchTool* ToolRecords::findTool(uint32_t serialNumber, uint32_t hardwareId) const {
    for (const auto& tool : tools) {
        if (tool.serialNumber && *tool.serialNumber == serialNumber) return &tool;
    }
    for (const auto& tool : tools) {
        if (!tool.serialNumber && tool.hardwareId && *tool.hardwareId == hardwareId) return &tool;
    }
    return nullptr;
}

BenchTool* ToolRecords::findUser(int32_t userNumber) {
    for (auto& tool : tools) {
        if (tool.userNumber == userNumber) return &tool;
    }
    return nullptr;
}

const BenchFirmware* ToolRecords::findFirmware(const std::string& family,
                                               const std::string& version, uint32_t variant) const {
    for (const auto& f : firmware) {
        if (f.deviceFamily == family && f.firmwareVersion == version && f.variantCode == variant) {
            return &f;
        }
    }
    return nullptr;
}

std::optional<ToolRecords> ToolRecords_load(const std::filesystem::path& path, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        if (error != nullptr) *error = "cannot read " + path.string();
        return std::nullopt;
    }
    try {
        json j = json::parse(in);
        ToolRecords records;
        records.updaterVersion = j.value("updaterVersion", records.updaterVersion);
        for (const auto& t : j.value("tools", json::array())) records.tools.push_back(readTool(t));
        for (const auto& f : j.value("firmware", json::array())) {
            records.firmware.push_back({text(f, "deviceFamily"), text(f, "firmwareVersion"),
                                        f.value("variantCode", 0u), f.value("firmwareId", 0u)});
        }
        for (const auto& v : j.value("userFileVersions", json::array())) {
            records.userFileVersions.push_back(
                {text(v, "header1"), text(v, "header2"), v.value("number", 0u)});
        }
        return records;
    } catch (const json::exception& e) {
        if (error != nullptr) *error = path.string() + ": " + e.what();
        return std::nullopt;
    }
}

#include "support/update_bench.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "core/byte_string.h"
#include "workflows/message_text.h"

Bytes rawProgram(const Bytes& image) {
    Bytes program;
    size_t at = 0;
    while (at + kRawHeaderSize <= image.size()) {
        auto header = RawRecord_decodeHeader(std::span(image).subspan(at));
        if (!header) break;
        const size_t end = header->offset + header->length;
        if (program.size() < end) program.resize(end, 0xFF);
        std::copy_n(image.begin() + static_cast<long>(at + kRawHeaderSize), header->length,
                    program.begin() + header->offset);
        at += kRawHeaderSize + header->length;
    }
    return program;
}

packwriter::Image makeRelease(const std::string& boot0, const std::string& boot1,
                              const IdentityValues* identity,
                              std::vector<packwriter::FileGroup> groups) {
    packwriter::Image image;
    image.format = 8;
    image.fsn = "FD";
    image.fln = "Ford";
    image.des = "Bench release";
    if (!boot0.empty()) image.records.push_back(catalogue::bootRecord(0, boot0));
    if (!boot1.empty()) image.records.push_back(catalogue::bootRecord(1, boot1));
    if (identity != nullptr) image.records.push_back(catalogue::firmwareRecord(*identity, 700));
    for (auto& group : groups) image.records.push_back(std::move(group));
    return image;
}

void UpdateBench::SetUp() {
    WorkflowTest::SetUp();
    installed = makeRelease("1.23", "1.23", nullptr);
    toolRecord = benchToolRecord();
    toolRecord["installedFirmwareId"] = kInstalledId;
    toolRecord["firmwareList"] =
        catalogue::versionText(releaseIdentity) + ":900:CURRENT:Bench release#";
}

void UpdateBench::addRelease(uint32_t id, const packwriter::Image& image) {
    catalogue::writeRelease(rig_.catalogue, id, image);
}

void UpdateBench::addUserFile(const std::string& name, const Bytes& content) {
    rig_.addFile("ktxUserFiles/" + name, content);
    userFiles.push_back(name);
}

void UpdateBench::setBluetoothFiles(const std::string& version, int imageVersion) {
    rig_.addFile("KTX2_BLEVersion.txt", version);
    rig_.addFile("Enc_KTX2_BLE_CODE.BIN", catalogue::bluetoothImage(imageVersion));
}

bool UpdateBench::startBench() {
    addRelease(kInstalledId, installed);
    toolRecord["userFiles"] = userFiles;
    nlohmann::json firmware = nlohmann::json::array();
    for (auto [identity, id] : {std::pair{IdentityValues{}, kInstalledId},  // the default tool's
                                std::pair{releaseIdentity, kReleaseId}}) {
        firmware.push_back({{"deviceFamily", "KTX"},
                            {"firmwareVersion", catalogue::versionText(identity)},
                            {"variantCode", 0},
                            {"firmwareId", id}});
    }
    std::string error;
    if (!rig_.start(state, {{"tools", {toolRecord}}, {"firmware", firmware}}, &error, true)) {
        ADD_FAILURE() << error;
        return false;
    }
    delegate_ = std::make_unique<AppDelegate>(ui_, *rig_.session, rig_.link);
    delegate_->setHistory(historyFile().string(), [this](const std::string& failure) {
        historyFailures.push_back(failure);
    });
    return true;
}

void UpdateBench::answerYes(void (AppDelegate::*click)()) {
    ui_.scriptAnswers({kSecondButton});
    ((*delegate_).*click)();
    delegate_->waitIdle();
}

bool UpdateBench::succeeded() {
    return ui_.text(Line::Msg) == fillText("%@ Firmware Updated Successfully", {kDeviceName});
}

int UpdateBench::countMessage(const std::string& text) {
    return static_cast<int>(std::ranges::count(ui_.calls(), "txtMsg=" + text));
}

int UpdateBench::framesOf(uint8_t command) {
    return static_cast<int>(std::ranges::count_if(rig_.tool.frames(), [&](const auto& f) {
        return f.size() > 2 && f[0] == ';' && f[2] == command;
    }));
}

std::string UpdateBench::tags() {
    std::string out;
    for (const auto& tag : rig_.reportTags()) {
        out += (out.empty() ? "" : " ") + (tag.empty() ? std::string("(no tag)") : tag);
    }
    return out;
}

std::vector<nlohmann::json> UpdateBench::history() {
    std::vector<nlohmann::json> lines;
    std::ifstream in(historyFile());
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

#include "request_answers.h"

#include <zlib.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

namespace {

enum class Script { updater, query };

struct WordInfo {
    Script script;
    bool table;  // answered with "|||" separators
};

const std::map<std::string, WordInfo>& words() {
    static const std::map<std::string, WordInfo> kWords = {
        {"download|", {Script::updater, false}},
        {"firmware|", {Script::updater, false}},
        {"firmEmergency|", {Script::updater, false}},
        {"versionUpd|", {Script::updater, false}},
        {"valid|", {Script::updater, false}},
        {"userReadFileCount|", {Script::query, false}},
        {"userReadFileVersion|", {Script::query, false}},
        {"fileList|", {Script::query, true}},
        {"uploadUserFile|", {Script::query, true}},
    };
    return kWords;
}

constexpr const char* kUpdaterScript = "ktx/updaterComm.php";
constexpr const char* kTrailer = "|ENDFILE|";  // 9 bytes, never examined by the client
const std::string kRefused = "|FAILURE|";
const std::string kTableRefused = "|||FAILURE|||";

std::optional<uint32_t> number(const std::string& text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}

// A user number, signed as the updater sends it.
std::optional<int32_t> userNumber(const std::string& text) {
    const bool negative = !text.empty() && text[0] == '-';
    auto value = number(negative ? text.substr(1) : text);
    if (!value || *value > (negative ? 0x80000000u : 0x7FFFFFFFu)) return std::nullopt;
    return static_cast<int32_t>(negative ? -int64_t{*value} : int64_t{*value});
}

uint32_t crcOf(const std::string& bytes) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

bool safeResourceName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos ||
        name.find('\\') != std::string::npos) {
        return false;
    }
    for (const auto& part : std::filesystem::path(name)) {
        if (part == "..") return false;
    }
    return true;
}

}  // namespace

RequestAnswers::RequestAnswers(ToolRecords records, std::filesystem::path catalogueDir,
                               std::filesystem::path uploadDir)
    : records_(std::move(records)),
      catalogueDir_(std::move(catalogueDir)),
      uploadDir_(std::move(uploadDir)) {}

BenchReply RequestAnswers::answer(const std::string& script, const DecodedRequest& request,
                                  Misbehaviour& misbehaviour) {
    auto canned = misbehaviour.replies.find(request.word);
    if (canned != misbehaviour.replies.end()) return {canned->second};
    auto known = words().find(request.word);
    if (known == words().end()) return {kRefused};
    const WordInfo& info = known->second;
    bool rightScript = (script == kUpdaterScript) == (info.script == Script::updater);
    if (!rightScript || misbehaviour.refusedWords.count(request.word) != 0) {
        return {info.table ? kTableRefused : kRefused};
    }
    const std::string& word = request.word;
    if (word == "download|") {
        return {download(request, misbehaviour.corruptCrc, misbehaviour.truncatedDownloads), true};
    }
    if (word == "firmware|") return {firmware(request)};
    if (word == "firmEmergency|") return {firmEmergency(request)};
    if (word == "versionUpd|") {
        return {misbehaviour.outdatedUpdater ? "|NO|1.4|" : "|NO|" + records_.updaterVersion + "|"};
    }
    if (word == "valid|") return {valid(request)};
    if (word == "userReadFileCount|") return {userFileCount(request)};
    if (word == "userReadFileVersion|") return {userFileVersion(request)};
    if (word == "fileList|") return {fileList(request)};
    return {uploadUserFile(request, misbehaviour)};
}

bool RequestAnswers::readCatalogueFile(const std::string& name, std::string* bytes) const {
    if (!safeResourceName(name)) return false;
    std::filesystem::path path = catalogueDir_ / name;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string RequestAnswers::download(const DecodedRequest& request, bool corruptCrc,
                                     bool truncated) const {
    std::string bytes;
    if (request.args.size() != 1 || !readCatalogueFile(request.args[0], &bytes)) return kRefused;
    uint32_t crc = crcOf(bytes) + (corruptCrc ? 1 : 0);
    if (truncated) bytes.resize(bytes.size() / 2);
    return "|SUCCESS|" + std::to_string(crc) + "|" + bytes + kTrailer;
}

std::string RequestAnswers::description(uint32_t firmwareId) const {
    std::string text;
    if (!readCatalogueFile("ktxFirmwares/" + std::to_string(firmwareId) + ".gfi", &text)) {
        return kRefused;
    }
    return "|SUCCESS|" + text + "|" + std::to_string(firmwareId) + "|";
}

std::string RequestAnswers::firmware(const DecodedRequest& request) const {
    if (request.args.size() != 3) return kRefused;
    auto variant = number(request.args[2]);
    if (!variant) return kRefused;
    const BenchFirmware* f = records_.findFirmware(request.args[0], request.args[1], *variant);
    return f == nullptr ? kRefused : description(f->firmwareId);
}

std::string RequestAnswers::firmEmergency(const DecodedRequest& request) const {
    if (request.args.size() != 3) return kRefused;
    auto serial = number(request.args[0]);
    auto hardware = number(request.args[1]);
    if (!serial || !hardware || !number(request.args[2])) return kRefused;
    const BenchTool* tool = records_.findTool(*serial, *hardware);
    if (tool == nullptr || !tool->installedFirmwareId) return kRefused;
    return description(*tool->installedFirmwareId);
}

std::string RequestAnswers::valid(const DecodedRequest& request) const {
    if (request.args.size() != 7) return kRefused;
    auto serial = number(request.args[0]);
    auto hardware = number(request.args[1]);
    if (!serial || !hardware) return kRefused;
    const BenchTool* tool = records_.findTool(*serial, *hardware);
    if (tool == nullptr) return kRefused;
    // Field 3 is not read by the updater.
    return "|SUCCESS|" + tool->name + "||" + tool->manualCode1 + "|" + tool->vehicle2 + "|" +
           std::to_string(tool->userNumber) + "|" + tool->vehicle1 + "|" + tool->firmwareList +
           "|" + tool->manualCode2 + "|";
}

std::string RequestAnswers::userFileCount(const DecodedRequest& request) {
    if (request.args.size() != 2) return kRefused;
    auto user = userNumber(request.args[0]);
    if (!user || !number(request.args[1])) return kRefused;
    const BenchTool* tool = records_.findUser(*user);
    if (tool == nullptr) return kRefused;
    return "|SUCCESS|" + std::to_string(tool->userFileCount + registeredFiles_[*user]) + "|";
}

std::string RequestAnswers::userFileVersion(const DecodedRequest& request) const {
    if (request.args.size() != 3) return kRefused;
    auto headerNumber = number(request.args[2]);
    if (!headerNumber) return kRefused;
    BenchFileVersion version{request.args[0], request.args[1], *headerNumber};
    for (const auto& known : records_.userFileVersions) {
        if (known == version) return "|YES|";
    }
    return "|NO|";
}

std::string RequestAnswers::fileList(const DecodedRequest& request) {
    if (request.args.size() != 1) return kTableRefused;
    auto user = userNumber(request.args[0]);
    const BenchTool* tool = user ? records_.findUser(*user) : nullptr;
    if (tool == nullptr) return kTableRefused;
    int64_t rows = tool->announcedRowCount.value_or(static_cast<int64_t>(tool->fileRows.size()));
    std::ostringstream reply;
    reply << "|||SUCCESS|||" << rows << "|||" << tool->fileColumns.size() << "|||,";
    for (const auto& name : tool->fileColumns) reply << name << ",";
    reply << "|||";
    if (!tool->fileRows.empty()) {
        reply << "$$";
        for (const auto& row : tool->fileRows) {
            reply << "##";
            for (const auto& value : row) reply << value << "##";
            reply << "$$";
        }
    }
    reply << "|||";
    return reply.str();
}

std::string RequestAnswers::uploadUserFile(const DecodedRequest& request,
                                           Misbehaviour& misbehaviour) {
    if (request.args.size() != 7) return kTableRefused;
    auto user = userNumber(request.args[0]);
    auto headerNumber = number(request.args[6]);
    if (!user || !headerNumber || !number(request.args[3]) || !number(request.args[5])) {
        return kTableRefused;
    }
    if (misbehaviour.dropFirstRegistration) {
        misbehaviour.dropFirstRegistration = false;
        return kTableRefused;
    }
    std::ifstream in(uploadDir_ / (std::to_string(*user) + ".pak"), std::ios::binary);
    if (!in) return kTableRefused;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (std::to_string(crcOf(bytes)) != request.args[4]) return kTableRefused;
    ++registeredFiles_[*user];
    records_.userFileVersions.push_back({request.args[1], request.args[2], *headerNumber});
    return "|||SUCCESS|||";
}

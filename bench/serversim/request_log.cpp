#include "request_log.h"

namespace {

constexpr std::string_view kIdentity = "1.3 Mac";

}  // namespace

bool RequestLog::open(const std::filesystem::path& path) {
    if (path.empty()) return true;
    out_.open(path, std::ios::app);
    return static_cast<bool>(out_);
}

nlohmann::json RequestLog_entry(const std::string& script, const DecodedRequest& request) {
    nlohmann::json entry = {{"script", script},
                            {"key", request.keyText},
                            {"request", request.text},
                            {"word", request.word},
                            {"args", request.args}};
    if (request.word == "valid|" && request.args.size() == 7) {
        const std::string& identity = request.args[4];
        entry["mode"] = std::atoi(request.args[6].c_str());
        entry["tag"] = identity.starts_with(kIdentity) ? identity.substr(kIdentity.size()) : "";
    }
    return entry;
}

void RequestLog::write(const std::string& script, const DecodedRequest& request) {
    std::lock_guard lock(mutex_);
    if (!out_.is_open()) return;
    // Requests may carry any bytes; the log stays valid JSON.
    out_ << RequestLog_entry(script, request)
                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
         << '\n';
    out_.flush();
}

std::vector<nlohmann::json> RequestLog_read(const std::filesystem::path& path) {
    std::vector<nlohmann::json> entries;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) entries.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return entries;
}

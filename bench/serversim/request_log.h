// Every decoded request as one JSON line, for tests and the demo to read:
// {"script", "key", "request", "word", "args", and for "valid|" "mode" and "tag"}.
#pragma once

#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "request_decoder.h"

class RequestLog {
  public:
    // An empty path logs nothing.
    bool open(const std::filesystem::path& path);
    void write(const std::string& script, const DecodedRequest& request);

  private:
    std::mutex mutex_;
    std::ofstream out_;
};

nlohmann::json RequestLog_entry(const std::string& script, const DecodedRequest& request);
// The entries of a log file, oldest first.
std::vector<nlohmann::json> RequestLog_read(const std::filesystem::path& path);

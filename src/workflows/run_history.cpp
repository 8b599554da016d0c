#include "workflows/run_history.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/private_file.h"

namespace {

constexpr const char* kRelativePath = "zarvik-updater/history.jsonl";

std::string failureText(const std::string& path, const std::string& reason) {
    return "The run history could not be written to " + path + ": " + reason;
}

// The line written with one call, so that runs of two updaters never interleave.
std::string appendLine(const std::string& path, const std::string& line) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (error) return error.message();
    // It names the user's tools by serial number: the user's alone.
    const int fd = PrivateFile_openAppend(path);
    if (fd < 0) return std::strerror(errno);
    const std::string text = line + "\n";
    const ssize_t written = ::write(fd, text.data(), text.size());
    std::string reason;
    if (written < 0)
        reason = std::strerror(errno);
    else if (static_cast<size_t>(written) != text.size())
        reason = "short write";
    if (::close(fd) != 0 && reason.empty()) reason = std::strerror(errno);
    return reason;
}

}  // namespace

std::string RunHistory_defaultPath(const char* stateHome, const char* home) {
    // Relative directories are not honoured: they would move with the working directory.
    if (stateHome != nullptr && stateHome[0] == '/') {
        return (std::filesystem::path(stateHome) / kRelativePath).string();
    }
    if (home != nullptr && home[0] == '/') {
        return (std::filesystem::path(home) / ".local/state" / kRelativePath).string();
    }
    return "";
}

std::string RunHistory_append(RunHistory& history, const RunRecord& record) {
    if (history.path.empty()) return "";
    const std::string reason = appendLine(history.path, RunRecord_toLine(record));
    if (reason.empty() || history.failureTold) return "";
    history.failureTold = true;
    return failureText(history.path, reason);
}

RunHistoryRead RunHistory_read(const std::string& path) {
    RunHistoryRead read;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return read;
    read.found = true;
    std::ifstream in(path, std::ios::binary);
    if (std::filesystem::is_directory(path, error) || !in) {
        read.failure = "The run history " + path + " cannot be read";
        return read;
    }
    for (std::string line; std::getline(in, line);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        auto record = RunRecord_fromLine(line);
        if (!record) {
            ++read.skipped;
            continue;
        }
        read.entries.push_back({std::move(*record), line});
    }
    return read;
}

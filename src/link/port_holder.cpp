#include "link/port_holder.h"

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

int pidOf(const std::string& name) {
    if (name.empty() || name.size() > 9) return 0;
    for (char c : name) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    }
    return std::stoi(name);
}

std::string commandName(const fs::path& processDir) {
    std::ifstream in(processDir / "comm");
    std::string name;
    std::getline(in, name);
    // Keep only what prints: the name lands in a message line.
    std::string clean;
    for (char c : name) {
        if (std::isprint(static_cast<unsigned char>(c))) clean += c;
    }
    return clean;
}

}  // namespace

std::optional<PortHolder> PortHolder_find(const std::string& devicePath,
                                          const std::string& procRoot) {
    std::error_code ec;
    const fs::path node = fs::weakly_canonical(devicePath, ec);
    if (ec) return std::nullopt;
    const int self = static_cast<int>(::getpid());
    fs::directory_iterator processes(procRoot, ec), end;
    for (; !ec && processes != end; processes.increment(ec)) {
        const int pid = pidOf(processes->path().filename().string());
        if (pid == 0 || pid == self) continue;
        std::error_code fdError;
        fs::directory_iterator fds(processes->path() / "fd", fdError);
        // Processes of other users cannot be looked into; they are skipped, not failures.
        for (; !fdError && fds != end; fds.increment(fdError)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fds->path(), linkError);
            if (!linkError && target == node) {
                return PortHolder{pid, commandName(processes->path())};
            }
        }
    }
    return std::nullopt;
}

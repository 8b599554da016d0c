#include "link/port_holder.h"

#include <sys/stat.h>
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
    return clean.empty() ? "an unnamed program" : clean;
}

bool holdsLock(const fs::path& processDir, const std::string& fd) {
    std::ifstream info(processDir / "fdinfo" / fd);
    for (std::string line; std::getline(info, line);) {
        if (line.starts_with("lock:")) return true;
    }
    return false;
}

}  // namespace

std::optional<PortHolder> PortHolder_find(const std::string& devicePath,
                                          const std::string& procRoot) {
    // Compared by device number: a descriptor names the node it was opened through, which
    // may be a symbolic link, and names a node that has since gone away as "(deleted)".
    struct stat node {};
    if (::stat(devicePath.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return std::nullopt;
    const int self = static_cast<int>(::getpid());
    std::optional<PortHolder> first;
    std::error_code ec;
    fs::directory_iterator processes(procRoot, ec), end;
    for (; !ec && processes != end; processes.increment(ec)) {
        const int pid = pidOf(processes->path().filename().string());
        if (pid == 0 || pid == self) continue;
        std::error_code fdError;
        fs::directory_iterator fds(processes->path() / "fd", fdError);
        // Processes of other users cannot be looked into; they are skipped, not failures.
        for (; !fdError && fds != end; fds.increment(fdError)) {
            struct stat target {};
            if (::stat(fds->path().c_str(), &target) != 0 || !S_ISCHR(target.st_mode) ||
                target.st_rdev != node.st_rdev) {
                continue;
            }
            // A process that merely has the port open (the virtual tool's own end, a
            // monitor) is named only when no process holds the lock.
            if (holdsLock(processes->path(), fds->path().filename().string())) {
                return PortHolder{pid, commandName(processes->path())};
            }
            if (!first) first = PortHolder{pid, commandName(processes->path())};
        }
    }
    return first;
}

#include "link/port_holder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "link/device_kind.h"

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

// The process that /proc/locks names as holding a lock on the node, else 0. Readable by
// everyone, unlike other users' descriptor lists: it names a holder of another user too.
int lockingPid(const fs::path& procRoot, const struct stat& node) {
    std::ifstream locks(procRoot / "locks");
    // "1: FLOCK  ADVISORY  WRITE 612 00:19:5 0 EOF": the pid, then the node's file system
    // (major and minor in hex) and inode.
    const std::string where = [&] {
        char text[64];
        std::snprintf(text, sizeof text, " %02x:%02x:%llu ", major(node.st_dev), minor(node.st_dev),
                      static_cast<unsigned long long>(node.st_ino));
        return std::string(text);
    }();
    for (std::string line; std::getline(locks, line);) {
        const size_t at = line.find(where);
        if (at == std::string::npos) continue;
        const size_t space = line.rfind(' ', at - 1);
        if (space == std::string::npos) continue;
        return pidOf(line.substr(space + 1, at - space - 1));
    }
    return 0;
}

// The prober's own word that it leaves the device alone, in the device's udev record
// ("c166:0"), which every user may read.
bool probersKeptAway(const fs::path& udevDataRoot, dev_t device) {
    // Appended, not concatenated: GCC bug 105329 (a false -Wrestrict at -O3).
    std::string name = "c";
    name += std::to_string(major(device));
    name += ':';
    name += std::to_string(minor(device));
    std::ifstream record(udevDataRoot / name);
    for (std::string line; std::getline(record, line);) {
        if (line == "E:ID_MM_DEVICE_IGNORE=1") return true;
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
    // The lock holder first: others may merely have the port open (the virtual tool's own end
    // of the line, a monitor).
    const int locker = lockingPid(procRoot, node);
    const fs::path lockerDir = fs::path(procRoot) / std::to_string(locker);
    std::error_code ec;
    if (locker != 0 && locker != self && fs::exists(lockerDir, ec)) {
        return PortHolder{locker, commandName(lockerDir)};
    }
    fs::directory_iterator processes(procRoot, ec), end;
    for (; !ec && processes != end; processes.increment(ec)) {
        const int pid = pidOf(processes->path().filename().string());
        if (pid == 0 || pid == self) continue;
        std::error_code fdError;
        fs::directory_iterator fds(processes->path() / "fd", fdError);
        // Processes of other users cannot be looked into; they are skipped, not failures.
        for (; !fdError && fds != end; fds.increment(fdError)) {
            struct stat target {};
            if (::stat(fds->path().c_str(), &target) == 0 && S_ISCHR(target.st_mode) &&
                target.st_rdev == node.st_rdev) {
                return PortHolder{pid, commandName(processes->path())};
            }
        }
    }
    return std::nullopt;
}

std::optional<PortHolder> PortHolder_likelyProber(const std::string& devicePath,
                                                  const std::string& procRoot,
                                                  const std::string& udevDataRoot) {
    struct stat node {};
    if (::stat(devicePath.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return std::nullopt;
    // Probers leave pseudo-terminals alone.
    if (DeviceKind_isPseudoTerminal(node.st_rdev) || probersKeptAway(udevDataRoot, node.st_rdev)) {
        return std::nullopt;
    }
    std::error_code ec;
    fs::directory_iterator processes(procRoot, ec), end;
    for (; !ec && processes != end; processes.increment(ec)) {
        const int pid = pidOf(processes->path().filename().string());
        if (pid == 0) continue;
        const std::string name = commandName(processes->path());
        if (name == "ModemManager") return PortHolder{pid, name};
    }
    return std::nullopt;
}

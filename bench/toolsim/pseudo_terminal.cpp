#include "toolsim/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

std::string failure(const char* step) {
    return std::string(step) + ": " + std::strerror(errno);
}

}  // namespace

bool PseudoTerminal::open(const std::string& linkPath, std::string* error) {
    close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        if (error) *error = failure("posix_openpt");
        return false;
    }
    char name[PATH_MAX];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        if (error) *error = failure("pseudo-terminal set-up");
        close();
        return false;
    }
    devicePath_ = name;
    ownSlave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios line{};
    if (ownSlave_ < 0 || ::tcgetattr(ownSlave_, &line) != 0) {
        if (error) *error = failure("opening the terminal");
        close();
        return false;
    }
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(ownSlave_, TCSANOW, &line) != 0) {
        if (error) *error = failure("tcsetattr");
        close();
        return false;
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

    // Publish atomically: the host never sees a half-made link.
    std::string temporary = linkPath + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(devicePath_.c_str(), temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        if (error) *error = failure("publishing the link");
        ::unlink(temporary.c_str());
        close();
        return false;
    }
    linkPath_ = linkPath;
    return true;
}

void PseudoTerminal::close() {
    if (!linkPath_.empty()) {
        char target[PATH_MAX];
        ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && devicePath_ == std::string(target, static_cast<size_t>(n))) {
            ::unlink(linkPath_.c_str());
        }
        linkPath_.clear();
    }
    if (ownSlave_ >= 0) ::close(ownSlave_);
    if (master_ >= 0) ::close(master_);
    ownSlave_ = -1;
    master_ = -1;
    devicePath_.clear();
}

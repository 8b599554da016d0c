#include "toolsim/holding_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool HoldingProcess::hold(const std::string& devicePath, const std::string& name,
                          std::string* error) {
    release();
    int ready[2];
    int stay[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return false;
    if (::pipe2(stay, O_CLOEXEC) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return false;
    }
    const char* node = devicePath.c_str();
    char comm[16] = {};
    std::strncpy(comm, name.c_str(), sizeof comm - 1);
    const pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls here: the parent may have other threads.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::prctl(PR_SET_NAME, comm);
        // Nothing of the parent's stays open here: a pseudo-terminal's master kept by the
        // child would keep the line up after the virtual tool leaves the bus.
        ::dup2(stay[0], 0);
        ::dup2(ready[1], 1);
        ::close_range(3, ~0U, 0);
        int fd = ::open(node, O_RDWR | O_NOCTTY | O_NONBLOCK);
        int status = fd < 0 ? errno : ::flock(fd, LOCK_EX | LOCK_NB) != 0 ? errno : 0;
        (void)!::write(1, &status, sizeof status);
        if (status != 0) ::_exit(1);
        char byte;
        while (::read(0, &byte, 1) < 0 && errno == EINTR) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(stay[0]);
    int status = errno;
    if (child < 0 || ::read(ready[0], &status, sizeof status) != sizeof status || status != 0) {
        if (error) *error = std::string("holding ") + devicePath + ": " + std::strerror(status);
        ::close(ready[0]);
        ::close(stay[1]);
        if (child > 0) ::waitpid(child, nullptr, 0);
        return false;
    }
    ::close(ready[0]);
    pid_ = child;
    stayOpen_ = stay[1];
    return true;
}

void HoldingProcess::release() {
    if (pid_ < 0) return;
    ::close(stayOpen_);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    stayOpen_ = -1;
}

#include "cli/interrupt_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "core/stop_request.h"

namespace {

// The write end of the guard's pipe: all a signal handler may touch.
std::atomic<int> signalPipe{-1};
constexpr char kQuit = 0;

extern "C" void onSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    const int fd = signalPipe.load();
    if (fd >= 0) (void)!::write(fd, &byte, 1);
    errno = saved;
}

}  // namespace

InterruptGuard::InterruptGuard(StopRequest& stop, std::function<bool()> writing, FILE* err)
    : stop_(stop), writing_(std::move(writing)), err_(err) {
    if (::pipe2(pipe_, O_CLOEXEC) != 0) return;
    ::fcntl(pipe_[1], F_SETFL, O_NONBLOCK);
    signalPipe = pipe_[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    watcher_ = std::thread([this] { watch(); });
}

InterruptGuard::~InterruptGuard() {
    if (pipe_[1] < 0) return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    signalPipe = -1;
    (void)!::write(pipe_[1], &kQuit, 1);
    if (watcher_.joinable()) watcher_.join();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void InterruptGuard::watch() {
    int warned = 0;
    while (true) {
        char byte = 0;
        const ssize_t n = ::read(pipe_[0], &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || byte == kQuit) return;
        if (!writing_()) {
            // Nothing is being written: stopping now costs the tool nothing.
            std::fflush(nullptr);
            std::_Exit(kInterruptedStatus);
        }
        if (warned++ == 0) {
            std::fprintf(err_,
                         "\nAn update is running. Stopping it can leave the KTX2 unusable until "
                         "it is programmed again; press Ctrl-C again to stop it.\n");
        } else if (!stop_.requested.exchange(true)) {
            std::fprintf(err_, "\nStopping the update after the current frame...\n");
        }
        std::fflush(err_);
    }
}

// Ctrl-C and SIGTERM on the command line. Outside a run that writes to the tool the
// updater ends at once; during one, the first signal warns and the second asks the run to
// stop at the next frame boundary, where it ends as interrupted.
#pragma once

#include <cstdio>
#include <functional>
#include <thread>

struct StopRequest;

class InterruptGuard {
  public:
    // `writing` says whether a writing run is under way; it is asked on a thread of the
    // guard's own, never in the signal handler.
    InterruptGuard(StopRequest& stop, std::function<bool()> writing, FILE* err);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

  private:
    void watch();

    StopRequest& stop_;
    std::function<bool()> writing_;
    FILE* err_;
    int pipe_[2] = {-1, -1};
    std::thread watcher_;
};

inline constexpr int kInterruptedStatus = 130;  // as a shell reports a run ended by SIGINT

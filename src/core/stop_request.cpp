#include "core/stop_request.h"

#include <algorithm>
#include <thread>

bool StopRequest_requested(const StopRequest* stop) {
    return stop != nullptr && stop->requested.load();
}

int StopRequest_sleep(const StopRequest* stop, std::chrono::milliseconds duration,
                      std::chrono::milliseconds poll) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + duration;
    const auto step = std::max(poll, std::chrono::milliseconds(1));
    while (true) {
        if (StopRequest_requested(stop)) return 0;
        const auto now = Clock::now();
        if (now >= end) return 1;
        std::this_thread::sleep_for(std::min<Clock::duration>(step, end - now));
    }
}

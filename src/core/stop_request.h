// A request, made from outside a run (a signal, a front end), that the run stop. The run
// looks at it only between frames and in its waits, so no frame is ever left half-sent.
#pragma once

#include <atomic>
#include <chrono>

struct StopRequest {
    std::atomic<bool> requested{false};
};

// False for no request record.
bool StopRequest_requested(const StopRequest* stop);
// Sleeps `duration`, looking every `poll` whether a stop was requested. 1 when the whole
// time passed, 0 when the sleep ended early on a request.
int StopRequest_sleep(const StopRequest* stop, std::chrono::milliseconds duration,
                      std::chrono::milliseconds poll);

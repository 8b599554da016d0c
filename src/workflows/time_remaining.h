// How long a transfer still needs, from the rate measured so far. Fed with the percentage
// done and the time it was reached; the rate is smoothed so that one slow frame or one quick
// burst does not make the figure jump.
#pragma once

#include <chrono>
#include <string>

struct TimeRemaining {
    using Clock = std::chrono::steady_clock;
    Clock::time_point start{};
    Clock::time_point lastSample{};
    int startPercent = -1;  // -1: not started
    int lastPercent = 0;
    double rate = 0;  // smoothed percent per second; 0: not measured yet
};

// Starts afresh; a percentage that goes back (a new image, a retry) starts afresh too.
void TimeRemaining_reset(TimeRemaining* estimate);
void TimeRemaining_update(TimeRemaining* estimate, int percent,
                          TimeRemaining::Clock::time_point now);
// Whole seconds still needed, never negative; -1 while there is too little to go on.
int TimeRemaining_seconds(const TimeRemaining* estimate);
// "About 3 min remaining", "About 40 s remaining"; empty for -1.
std::string TimeRemaining_text(int seconds);

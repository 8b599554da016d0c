#include "workflows/time_remaining.h"

#include <algorithm>
#include <cmath>

namespace {

using Seconds = std::chrono::duration<double>;

// A rate measured over less than this is mostly the noise of single frames.
constexpr double kSampleSpan = 1.0;
// Before this much time and progress the first frames' pace says little about the rest.
constexpr double kWarmUp = 3.0;
constexpr int kWarmUpPercent = 2;
// Weight of the newest measured rate.
constexpr double kSmoothing = 0.3;

}  // namespace

void TimeRemaining_reset(TimeRemaining* estimate) {
    *estimate = TimeRemaining{};
}

void TimeRemaining_update(TimeRemaining* estimate, int percent,
                          TimeRemaining::Clock::time_point now) {
    if (percent < 0) return;  // indeterminate: nothing to measure
    percent = std::min(percent, 100);
    if (estimate->startPercent < 0 || percent < estimate->lastPercent) {
        TimeRemaining_reset(estimate);
        estimate->start = estimate->lastSample = now;
        estimate->startPercent = estimate->lastPercent = percent;
        return;
    }
    const double span = Seconds(now - estimate->lastSample).count();
    if (span < kSampleSpan) return;
    const double measured = (percent - estimate->lastPercent) / span;
    estimate->rate =
        estimate->rate == 0 ? measured : estimate->rate + kSmoothing * (measured - estimate->rate);
    estimate->lastSample = now;
    estimate->lastPercent = percent;
}

int TimeRemaining_seconds(const TimeRemaining* estimate) {
    if (estimate->startPercent < 0 || estimate->rate <= 0) return -1;
    if (Seconds(estimate->lastSample - estimate->start).count() < kWarmUp ||
        estimate->lastPercent - estimate->startPercent < kWarmUpPercent) {
        return -1;
    }
    const double left = (100 - estimate->lastPercent) / estimate->rate;
    // The margin keeps a rounding error from adding a whole second.
    return static_cast<int>(std::ceil(std::max(0.0, left - 1e-6)));
}

std::string TimeRemaining_text(int seconds) {
    if (seconds < 0) return "";
    if (seconds < 60) {
        // Steps of 5 s: a figure that changes every frame is read as noise.
        int shown = std::max(5, (seconds + 4) / 5 * 5);
        return "About " + std::to_string(shown) + " s remaining";
    }
    return "About " + std::to_string((seconds + 59) / 60) + " min remaining";
}

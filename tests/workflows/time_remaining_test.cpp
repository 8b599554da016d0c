// The time-remaining estimate: fed percentages at given times, what it says after each.
#include "workflows/time_remaining.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Sample {
    double at;  // seconds since the first sample
    int percent;
};

struct Estimate {
    const char* name;
    std::vector<Sample> samples;
    int seconds;  // what the estimate says after the last sample
};

class TimeRemainingTest : public ::testing::TestWithParam<Estimate> {};

TEST_P(TimeRemainingTest, SaysWhatTheMeasuredRateGives) {
    const Estimate& e = GetParam();
    TimeRemaining estimate;
    const auto origin = TimeRemaining::Clock::now();
    for (const Sample& s : e.samples) {
        auto at = origin + std::chrono::duration_cast<TimeRemaining::Clock::duration>(
                               std::chrono::duration<double>(s.at));
        TimeRemaining_update(&estimate, s.percent, at);
        EXPECT_GE(TimeRemaining_seconds(&estimate), -1);
    }
    EXPECT_EQ(TimeRemaining_seconds(&estimate), e.seconds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeRemainingTest,
    ::testing::Values(Estimate{"NothingYet", {}, -1}, Estimate{"OneSample", {{0, 0}}, -1},
                      // Steady: 1 % a second from 0, so 90 s for the 90 % left.
                      Estimate{"Steady", {{0, 0}, {5, 5}, {10, 10}}, 90},
                      // Under the warm-up (3 s, 2 %) there is nothing to go on.
                      Estimate{"TooEarly", {{0, 0}, {2, 2}}, -1},
                      Estimate{"TooLittleProgress", {{0, 0}, {10, 1}}, -1},
                      // Samples closer than a second are frame noise and wait for the next.
                      Estimate{"BurstsIgnored", {{0, 0}, {4, 4}, {4.2, 20}}, 96},
                      // A slow patch moves the estimate only part of the way (smoothed).
                      Estimate{"Smoothed", {{0, 0}, {10, 10}, {20, 15}}, 100},
                      Estimate{"Done", {{0, 0}, {5, 50}, {10, 100}}, 0},
                      Estimate{"BeyondHundredIsDone", {{0, 0}, {5, 50}, {10, 130}}, 0},
                      // A stall: no rate, no figure rather than an endless one.
                      Estimate{"Stalled", {{0, 10}, {5, 10}}, -1},
                      // Going back (a retry, the next image) starts the measurement afresh.
                      Estimate{"WentBack", {{0, 0}, {5, 50}, {6, 3}}, -1},
                      Estimate{"IndeterminateIgnored", {{0, 0}, {5, 5}, {6, -1}, {10, 10}}, 90}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(TimeRemainingText, RoundsToWhatAPersonReads) {
    const std::vector<std::pair<int, std::string>> cases = {{-1, ""},
                                                            {0, "About 5 s remaining"},
                                                            {41, "About 45 s remaining"},
                                                            {60, "About 1 min remaining"},
                                                            {61, "About 2 min remaining"},
                                                            {4260, "About 71 min remaining"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(TimeRemaining_text(seconds), text) << seconds;
}

}  // namespace

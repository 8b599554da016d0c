// The run history file on its own: where it lives, what survives reading it back, and a
// history that cannot be written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "workflows/run_history.h"

namespace {

namespace fs = std::filesystem;

class RunHistoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir =
            fs::temp_directory_path() /
            ("zarvik-history-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST(RunHistoryPath, FollowsTheStateDirectory) {
    struct Case {
        const char *stateHome, *home, *path;
    } cases[] = {
        {"/s", "/h", "/s/zarvik-updater/history.jsonl"},
        {nullptr, "/h", "/h/.local/state/zarvik-updater/history.jsonl"},
        {"", "/h", "/h/.local/state/zarvik-updater/history.jsonl"},
        {"relative", "/h", "/h/.local/state/zarvik-updater/history.jsonl"},
        {nullptr, nullptr, ""},
        {nullptr, "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RunHistory_defaultPath(c.stateHome, c.home), c.path)
            << (c.stateHome ? c.stateHome : "(unset)");
    }
}

// Lines this version cannot parse are skipped and counted; lines of a later version, with
// fields it does not know, are kept whole.
TEST_F(RunHistoryTest, ReadsWhatItCanAndCountsTheRest) {
    RunHistory history{(dir / "deep" / "history.jsonl").string()};
    EXPECT_EQ(RunHistory_read(history.path).found, false);

    RunRecord run;
    run.time = "2024-05-01T09:30:00Z";
    run.workflow = "program";
    run.serialNumber = 4294967295u;
    run.hardwareId = -2;
    run.firmwareBefore = "2.18.04";
    run.outcome = "Writing Firmware V3.01.02 Failed\n\"quoted\"";
    run.reportTag = "_Failed_FIRM";
    run.durationSeconds = 12.5;
    run.interrupted = true;
    EXPECT_EQ(RunHistory_append(history, run), "");
    const std::string later =
        R"({"time":"2030-01-01T00:00:00Z","workflow":"program","outcome":"interrupted",)"
        R"("stoppedAt":"firmware","durationSeconds":3})";
    {
        std::ofstream out(history.path, std::ios::app);
        out << "not json\n"
            << R"({"time":"x","workflow":"program","serialNumber":"100001"})"
            << "\n"
            << R"({"time":"x","workflow":"program","serialNumber":-1})"
            << "\n"
            << R"({"workflow":"program"})"
            << "\n"
            << "[1,2]\n\n   \n"
            << later << "\n"
            << R"({"time":"2030-01-01T00:00:00Z","work)";  // cut off mid-write
    }

    const RunHistoryRead read = RunHistory_read(history.path);
    EXPECT_TRUE(read.found);
    EXPECT_EQ(read.failure, "");
    EXPECT_EQ(read.skipped, 6);
    ASSERT_EQ(read.entries.size(), 2u);
    const RunRecord& back = read.entries[0].record;
    EXPECT_EQ(RunRecord_toLine(back), RunRecord_toLine(run));
    EXPECT_EQ(back.firmwareAfter, std::nullopt);
    EXPECT_EQ(back.firmwareId, std::nullopt);
    EXPECT_EQ(read.entries[1].line, later);
    EXPECT_EQ(read.entries[1].record.outcome, "interrupted");
}

}  // namespace

// What the history says about the last update of a tool, and what the user is told of it.
#include <gtest/gtest.h>

#include "workflows/unfinished_update.h"

namespace {

constexpr uint32_t kSerial = 100001;

RunHistoryEntry entry(const char* workflow, std::optional<std::string> tags,
                      std::optional<uint32_t> firmwareId = 901, uint32_t serial = kSerial) {
    RunRecord r;
    r.time = "2024-05-01T09:30:00Z";
    r.workflow = workflow;
    r.serialNumber = serial;
    r.firmwareId = firmwareId;
    r.reportTag = std::move(tags);
    UnfinishedUpdate_mark(r);
    return {r, ""};
}

RunHistoryEntry olderLine(const char* tags) {
    RunHistoryEntry e = entry("program", tags);
    e.record.result.reset();  // written before the step was recorded
    e.record.step.reset();
    return e;
}

TEST(UnfinishedUpdate, TheLastUpdateThatReachedTheToolDecides) {
    const RunHistoryEntry cutFirmware = entry("program", "_Failed_FIRM");
    RunHistoryEntry closedMidRun = entry("program", std::nullopt);
    closedMidRun.record.interrupted = true;  // the window closed before a failure was reported
    struct Case {
        const char* name;
        std::vector<RunHistoryEntry> entries;
        const char* step;  // null: nothing unfinished
    } cases[] = {
        {"no history", {}, nullptr},
        {"cut in the firmware", {cutFirmware}, "firmware"},
        {"an older line, by its tag", {olderLine("_Failed_BL1")}, "bootloader 1"},
        {"each step has its name", {entry("program", "_Failed_MemErase_Block_40")}, "memory erase"},
        {"finished since", {cutFirmware, entry("program", "")}, nullptr},
        {"a failed download since wrote nothing", {cutFirmware, entry("program", std::nullopt)},
         "firmware"},
        {"a switched tool since wrote nothing",
         {cutFirmware, entry("program", "_Switch_From _Switch_To")}, "firmware"},
        {"memories since are no update", {cutFirmware, entry("program-memories", "_FFO")},
         "firmware"},
        {"the window closed mid-run", {closedMidRun}, "stopped"},
        {"another tool's", {entry("program", "_Failed_FIRM", 901, 7)}, nullptr},
        {"no firmware recorded", {entry("program", "_Failed_FIRM", std::nullopt)}, nullptr},
        {"a memory-only failure is no update", {entry("program-memories", "_Failed_Custom_Mem_1")},
         nullptr},
    };
    for (const Case& c : cases) {
        RunHistoryRead read;
        read.found = true;
        read.entries = c.entries;
        const auto found = UnfinishedUpdate_find(read, kSerial);
        ASSERT_EQ(found.has_value(), c.step != nullptr) << c.name;
        if (!found) continue;
        EXPECT_EQ(found->step, c.step) << c.name;
        EXPECT_EQ(found->firmwareId, 901u) << c.name;
    }
    EXPECT_EQ(cutFirmware.record.result, "interrupted");
    const RunRecord back = *RunRecord_fromLine(RunRecord_toLine(cutFirmware.record));
    EXPECT_EQ(back.step, "firmware");
}

TEST(UnfinishedUpdate, TheNoteNamesTheFirmwareOfferedOrSaysItIsGone) {
    FirmwareChoices choices;
    parseFirmwareIds(choices, "2.20.01:901:CURRENT:Release#2.21.00:905:BETA:Beta#");
    UnfinishedUpdateNote note = UnfinishedUpdate_note({"firmware", 905}, choices);
    EXPECT_EQ(note.choice, 1);
    EXPECT_EQ(note.text, "The last update of this tool did not finish (firmware). Program " +
                             choiceName(choices, 1) + " again to complete it.");
    note = UnfinishedUpdate_note({"firmware", 777}, choices);
    EXPECT_FALSE(note.choice);
    EXPECT_EQ(note.text,
              "The last update of this tool did not finish (firmware). Its firmware (777) is no "
              "longer offered: program one of those offered to complete it.");
}

}  // namespace

// One run that wrote to the tool or uploaded from it, as the run history keeps it: one JSON
// object a line. Readers take the fields they know and ignore the rest, so a later version
// may add fields without making older lines, or older readers, fail.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct RunRecord {
    std::string time;                      // the run's start, UTC, ISO 8601: "2024-05-01T09:30:00Z"
    std::string workflow;                  // "program", "program-memories" or "upload-backups"
    std::optional<uint32_t> serialNumber;  // of the identified tool
    std::optional<int32_t> hardwareId;
    std::optional<std::string> firmwareBefore;  // version texts; none when not known
    std::optional<std::string> firmwareAfter;
    std::optional<uint32_t> firmwareId;  // the firmware chosen for an update
    std::string outcome;                 // the last thing the user was shown
    // The tags of the reports sent to the server, in order, joined by spaces; "" for a
    // report without a tag; none when nothing was reported.
    std::optional<std::string> reportTag;
    // "interrupted" for an update that stopped while writing to the tool, with the step it
    // stopped in; none for any other run.
    std::optional<std::string> result;
    std::optional<std::string> step;
    // A backup upload's files by number ("2 3"): those the server got, and those it did
    // not; none for other runs.
    std::optional<std::string> filesUploaded;
    std::optional<std::string> filesNotUploaded;
    double durationSeconds = 0;
    // Stopped on the user's request, or cut short by the session ending.
    bool interrupted = false;
};

// A run being recorded: its record and when it started.
struct HistoryRun {
    RunRecord record;
    std::chrono::steady_clock::time_point started;
};

std::string RunRecord_timeText(std::chrono::system_clock::time_point when);
// The record as one line of JSON, without the line end.
std::string RunRecord_toLine(const RunRecord& record);
// Null for a line that is not a JSON object with a time and a workflow, or whose known
// fields have the wrong type.
std::optional<RunRecord> RunRecord_fromLine(std::string_view line);

HistoryRun HistoryRun_begin(std::string workflow);
// A status text or a message box shown during the run; the last one is its outcome.
void HistoryRun_noteShown(HistoryRun& run, const std::string& text);
// A report sent to the server; null for one without a tag.
void HistoryRun_noteReport(HistoryRun& run, const std::string* tag);
// The record with its duration, as the run ends.
RunRecord HistoryRun_end(HistoryRun& run);

// What the user sees of an update of several tools at once: one row a tool on a terminal,
// lines prefixed with the tool's name otherwise, or one JSON stream whose every event names
// its tool; and the summary at the end.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

enum class BatchToolState { waiting, running, done };

// One tool of the batch and the process that updates it.
struct BatchTool {
    std::string name;                 // its USB serial, or its node when it has none
    std::vector<std::string> select;  // the options that name it to its process
    BatchToolState state = BatchToolState::waiting;
    pid_t pid = -1;
    int outFd = -1;                      // its JSON events
    int errFd = -1;                      // its plain lines
    std::string outPending, errPending;  // a line not complete yet
    std::string step;                    // the last message line
    int progress = -1;
    int remainingSeconds = -1;
    std::string before, after;  // firmware versions, as shown
    bool declined = false;      // a question of its own was answered No
    std::string question;       // the last question it was asked
    std::string lastLine;       // its last plain line, for a failure without a message
    int status = -1;            // exit status; -1 while running or never started
    std::string outcome;
    std::chrono::steady_clock::time_point started;
    double seconds = 0;
};

enum class BatchMode { rows, lines, json };

struct BatchView {
    BatchMode mode = BatchMode::lines;
    FILE* out = stdout;  // JSON and the summary
    FILE* err = stderr;  // rows and lines
    int rowsDrawn = 0;
    std::chrono::steady_clock::time_point lastDraw;
};

void BatchView_start(BatchView& view, const std::vector<BatchTool>& tools, int jobs);
// A JSON event of a tool's process.
void BatchView_event(BatchView& view, BatchTool& tool, const nlohmann::json& event);
// A plain line of a tool's process.
void BatchView_line(BatchView& view, BatchTool& tool, const std::string& line);
// A tool's process has ended (or it never started): its outcome is settled and told.
void BatchView_end(BatchView& view, BatchTool& tool);
// Redraws the rows on a terminal, at most every 200 ms unless `now`.
void BatchView_draw(BatchView& view, const std::vector<BatchTool>& tools, bool now = false);
// The summary table (or event) and the exit status: 0 when every tool was updated.
int BatchView_summary(BatchView& view, const std::vector<BatchTool>& tools, bool stopped);

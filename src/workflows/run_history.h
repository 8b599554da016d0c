// The run history file: where it lives, appending a run and reading the runs back. Writing
// it never fails a run; the first failure is handed back once for the front end to tell.
#pragma once

#include <string>
#include <vector>

#include "workflows/run_record.h"

struct RunHistory {
    std::string path;  // empty: no history is kept
    bool failureTold = false;
};

// $XDG_STATE_HOME/zarvik-updater/history.jsonl, else ~/.local/state/zarvik-updater/...;
// empty when neither variable gives an absolute directory.
std::string RunHistory_defaultPath(const char* stateHome, const char* home);

// Appends the record, creating the directories. Returns the failure text the first time
// the history cannot be written, else "".
std::string RunHistory_append(RunHistory& history, const RunRecord& record);

struct RunHistoryEntry {
    RunRecord record;
    std::string line;  // as stored, with the fields this version does not know
};

struct RunHistoryRead {
    bool found = false;   // the file exists
    std::string failure;  // set when it exists but cannot be read
    std::vector<RunHistoryEntry> entries;
    int skipped = 0;  // lines that could not be parsed
};

RunHistoryRead RunHistory_read(const std::string& path);

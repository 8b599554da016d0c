// One case of the fault campaign: the run, the one fault injected into it and the outcome
// the updater owes the user for it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serversim/misbehaviour.h"
#include "toolsim/virtual_tool.h"

enum class CliRun { Find, Program, ProgramMemories, UploadBackups, CheckVersion };

struct FaultCase {
    std::string name;
    CliRun run = CliRun::Program;
    std::function<void(VirtualTool&)> toolFault;  // applied once the tool is up
    Misbehaviour server;
    bool ftp = true;
    std::vector<std::pair<std::string, std::string>> environment;  // overrides
    std::string records;     // a records file of the state folder instead of records.json
    std::string reference;   // the records of the clean run to compare with; empty: `records`
    bool ownLayout = false;  // files land elsewhere than in the clean run: no byte comparison
    int limitSeconds = 0;    // what the fault may cost on top of a clean run
    std::string limitName;
    bool inShortForm = false;
    // A cut of an update: the tool is powered up again and a second run must recover it.
    bool secondRun = false;

    // Expected: the message line (or the last box title, "box:TITLE") and the last report
    // tag ("-": none beyond the clean run's), the exit status.
    std::string message;
    std::string tag = "-";
    int status = 1;
};

const std::vector<FaultCase>& faultCases();

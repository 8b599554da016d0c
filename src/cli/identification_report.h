#pragma once

#include "cli/updater_setup.h"

// Prints what Find Device learned: the tool, its firmware, the firmware it may receive and
// what else it offers. JSON mode prints one "identification" object.
void printIdentification(UpdaterSetup& setup, bool complete);

// Sets up and finds the tool, printing what was learned when `print` is set; null (status
// set) unless the identification was complete.
std::unique_ptr<UpdaterSetup> identifiedTool(const CliOptions& options, int& status, ToolUse use,
                                             bool print = true);

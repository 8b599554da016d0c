#pragma once

#include "cli/updater_setup.h"

// Prints what Find Device learned: the tool, its firmware, the firmware it may receive and
// what else it offers. JSON mode prints one "identification" object.
void printIdentification(UpdaterSetup& setup, bool complete);

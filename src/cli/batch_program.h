// program for several tools at once: one process of this program per tool, so that a crash
// or a cut cable on one never stops another; this process plans, asks once, starts them a
// few at a time, shows them and sums up.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "core/timing.h"

struct BatchRequest {
    bool all = false;                // every tool attached
    std::vector<std::string> tools;  // else these USB serials (two or more)
    int firmwareId = 0;              // 0: the only firmware each tool is offered
    int jobs = 0;                    // at most this many at once; 0: all of them
    Timing timing;                   // batchStagger between two starts; signalGap
};

// The exit status: 0 when every tool was updated, 1 when any failed or was declined, 2 for
// a usage error, the interrupted status after a stop.
int BatchProgram_run(const CliOptions& options, const BatchRequest& request);

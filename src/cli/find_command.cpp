#include <cstdio>

#include "cli/commands.h"
#include "cli/identification_report.h"

void addFindCommand(CLI::App& app, const CliOptions& options, int& status) {
    auto* find = app.add_subcommand("find", "Find the tool and show what it runs and may receive");
    find->callback([&options, &status] {
        auto setup = commandSetup(options, status, ToolUse::read);
        if (!setup) return;
        bool complete = runFindDevice(*setup);
        printIdentification(*setup, complete);
        status = complete ? 0 : 1;
    });
}

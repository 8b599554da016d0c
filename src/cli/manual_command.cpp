#include <cstdio>
#include <cstdlib>

#include "cli/commands.h"
#include "cli/identification_report.h"

void addManualCommand(CLI::App& app, const CliOptions& options, int& status) {
    auto* manual = app.add_subcommand("manual", "Find the tool and open its user manual");
    manual->callback([&options, &status] {
        auto setup = identifiedTool(options, status, ToolUse::read, false);
        if (!setup) return;
        if (!setup->ui->enabled(Control::Manual)) {
            std::fprintf(stderr, "No manual is offered for this tool.\n");
            status = 1;
            return;
        }
        setup->delegate->manualClicked();
        std::string address = setup->ui->lastAddress();
        if (!options.json) std::printf("%s\n", address.c_str());
        status = 0;
    });
}

#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/batch_program.h"
#include "cli/commands.h"
#include "cli/identification_report.h"
#include "workflows/message_text.h"

namespace {

// Index of the choice to program, or -1 with the reason already told.
int chooseFirmware(UpdaterSetup& setup, const CliOptions& options, int firmwareId) {
    FirmwareChoices choices = setup.delegate->choices();
    int count = static_cast<int>(choices.opt3.size());
    if (count == 0) {
        std::fprintf(stderr, "The server offers no firmware for this tool.\n");
        return -1;
    }
    if (firmwareId != 0) {
        for (int i = 0; i < count; ++i) {
            if (leadingInteger(choices.opt3[i]) == firmwareId) return i;
        }
        std::fprintf(stderr, "Firmware %d is not offered for this tool.\n", firmwareId);
        return -1;
    }
    if (count == 1) return 0;
    // Never guess which firmware goes into a user's tool.
    FILE* terminal = setup.terminal.get();
    if (terminal == nullptr || options.yes) {
        std::fprintf(stderr, "Several firmware are offered; choose one with --firmware ID.\n");
        return -1;
    }
    std::fprintf(terminal, "Firmware to program [1-%d]: ", count);
    std::fflush(terminal);
    char line[32] = {};
    if (std::fgets(line, sizeof line, terminal) == nullptr) return -1;
    int choice = leadingInteger(line);
    if (choice < 1 || choice > count) {
        std::fprintf(stderr, "No such choice.\n");
        return -1;
    }
    return choice - 1;
}

}  // namespace

void addProgramCommand(CLI::App& app, const CliOptions& options, int& status) {
    auto* program = app.add_subcommand("program", "Find the tool and update its firmware");
    auto firmwareId = std::make_shared<int>(0);
    program->add_option("--firmware", *firmwareId, "Id of the firmware to program");
    auto batch = std::make_shared<BatchRequest>();
    program->add_flag("--all", batch->all, "Update every tool attached, at once");
    program->add_option("--jobs", batch->jobs, "With several tools: at most N at once")
        ->check(CLI::PositiveNumber);
    // Hidden, for tests: the pause between two tools' starts.
    auto staggerMs = std::make_shared<int>(-1);
    program->add_option("--stagger-ms", *staggerMs)->group("")->check(CLI::NonNegativeNumber);
    program->callback([&options, &status, firmwareId, batch, staggerMs] {
        // Several tools: one process each, this one watching them.
        if (batch->all || options.tools.size() > 1) {
            batch->tools = options.tools;
            batch->firmwareId = *firmwareId;
            if (*staggerMs >= 0) batch->timing.batchStagger = std::chrono::milliseconds(*staggerMs);
            status = BatchProgram_run(options, *batch);
            return;
        }
        auto setup = identifiedTool(options, status, ToolUse::write);
        if (!setup) return;
        int index = chooseFirmware(*setup, options, *firmwareId);
        if (index < 0) {
            status = 1;
            return;
        }
        setup->delegate->firmwareChoiceChanged(index);
        setup->delegate->programClicked();
        setup->delegate->waitIdle();
        setup->ui->finishProgress();
        std::string done = fillText("%@ Firmware Updated Successfully", {kDeviceName});
        status = runStatus(*setup, setup->ui->text(Line::Msg) == done);
    });
}

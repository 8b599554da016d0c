// program-memories and upload-backups: the two side workflows after identification.
#include <cstdio>

#include "cli/commands.h"
#include "cli/identification_report.h"

namespace {

// Identification, then the button's question and its workflow, which succeeded when it
// ended with the box titled `successBox`.
void runAfterFind(const CliOptions& options, int& status, Control button,
                  void (AppDelegate::*clicked)(), const char* successBox, const char* successText) {
    auto setup = identifiedTool(options, status, ToolUse::write);
    if (!setup) return;
    if (!setup->ui->shown(button)) {
        std::fprintf(stderr, "This tool does not offer that.\n");
        status = 1;
        return;
    }
    ((*setup->delegate).*clicked)();
    setup->delegate->waitIdle();
    setup->ui->finishProgress();
    bool done = setup->ui->lastBoxTitle() == successBox;
    if (successText != nullptr) done = done && setup->ui->text(Line::Msg) == successText;
    status = runStatus(*setup, done);
}

}  // namespace

void addMemoryCommands(CLI::App& app, const CliOptions& options, int& status) {
    auto* memories =
        app.add_subcommand("program-memories", "Find the tool and program its extra files alone");
    memories->callback([&options, &status] {
        runAfterFind(options, status, Control::ProgramMemories, &AppDelegate::programMemOnlyClicked,
                     "Programming succeed", nullptr);
    });
    auto* backups = app.add_subcommand("upload-backups",
                                       "Find the tool and upload its backup files to the server");
    backups->callback([&options, &status] {
        runAfterFind(options, status, Control::UploadReadFiles, &AppDelegate::uploadFilesClicked,
                     "Warning", "File uploaded to server successfully");
    });
}

#include "cli/identification_report.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "core/byte_string.h"

std::unique_ptr<UpdaterSetup> identifiedTool(const CliOptions& options, int& status, ToolUse use,
                                             bool print) {
    auto setup = commandSetup(options, status, use);
    if (!setup) return nullptr;
    bool complete = runFindDevice(*setup);
    if (print) printIdentification(*setup, complete);
    if (!complete) {
        status = 1;
        return nullptr;
    }
    return setup;
}

void printIdentification(UpdaterSetup& setup, bool complete) {
    CliUi& ui = *setup.ui;
    AppDelegate& delegate = *setup.delegate;
    FirmwareChoices choices = delegate.choices();
    bool memories = ui.shown(Control::ProgramMemories);
    bool uploads = ui.shown(Control::UploadReadFiles);
    bool manual = ui.enabled(Control::Manual);

    if (ui.settings().json) {
        nlohmann::json firmware = nlohmann::json::array();
        for (size_t i = 0; i < choices.opt3.size(); ++i) {
            firmware.push_back({{"id", leadingInteger(choices.opt3[i])},
                                {"name", choiceName(choices, i)},
                                {"description", i < choices.opt5.size() ? choices.opt5[i] : ""}});
        }
        nlohmann::json out = {{"event", "identification"},
                              {"complete", complete},
                              {"name", ui.text(Line::Name)},
                              {"vehicle", ui.text(Line::Car)},
                              {"firmware", ui.text(Line::Firm)},
                              {"message", ui.text(Line::Msg)},
                              {"choices", firmware},
                              {"memoryProgramming", memories},
                              {"backupUpload", uploads},
                              {"manual", manual}};
        if (manual && complete) out["manualAddress"] = delegate.manualAddress();
        std::printf("%s\n", out.dump().c_str());
        std::fflush(stdout);
        return;
    }
    if (!complete) return;
    std::printf("%s\n%s\n%s\n", ui.text(Line::Name).c_str(), ui.text(Line::Car).c_str(),
                ui.text(Line::Firm).c_str());
    std::printf("Firmware it may receive:\n");
    if (choices.opt3.empty()) std::printf("  (none)\n");
    for (size_t i = 0; i < choices.opt3.size(); ++i) {
        std::printf("  %zu. id %s  %s  %s\n", i + 1, choices.opt3[i].c_str(),
                    choiceName(choices, i).c_str(),
                    i < choices.opt5.size() ? choices.opt5[i].c_str() : "");
    }
    std::printf("Memory programming: %s\nBackup upload: %s\nManual: %s\n",
                memories ? "offered" : "not offered", uploads ? "offered" : "not offered",
                manual ? "offered" : "not offered");
    // The run's own lines go to standard error: a log of both keeps them in order.
    std::fflush(stdout);
}

// history: the runs that wrote to a tool or uploaded from it, newest last.
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/updater_setup.h"
#include "workflows/run_history.h"

namespace {

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

std::string firmwareChange(const RunRecord& record) {
    return record.firmwareBefore.value_or("?") + " -> " + record.firmwareAfter.value_or("?");
}

void printTable(const std::vector<RunHistoryEntry>& entries) {
    std::printf("%-20s  %-10s  %-16s  %-20s  %8s  %s\n", "TIME", "TOOL", "WORKFLOW", "FIRMWARE",
                "DURATION", "OUTCOME");
    for (const RunHistoryEntry& entry : entries) {
        const RunRecord& r = entry.record;
        const std::string serial = r.serialNumber ? std::to_string(*r.serialNumber) : "?";
        char duration[32];
        std::snprintf(duration, sizeof duration, "%.1f s", r.durationSeconds);
        std::string outcome = r.outcome.empty() ? "-" : firstLine(r.outcome);
        if (r.interrupted) outcome += " (interrupted)";
        // A backup that did not reach the server must not hide behind the last file's word.
        if (r.filesNotUploaded && !r.filesNotUploaded->empty()) {
            outcome += " (not uploaded: file " + *r.filesNotUploaded + ")";
        }
        std::printf("%-20s  %-10s  %-16s  %-20s  %8s  %s\n", r.time.c_str(), serial.c_str(),
                    r.workflow.c_str(), firmwareChange(r).c_str(), duration, outcome.c_str());
    }
}

}  // namespace

void addHistoryCommand(CLI::App& app, const CliOptions& options, int& status) {
    auto* history =
        app.add_subcommand("history", "Show the runs that wrote to a tool or uploaded from it");
    auto json = std::make_shared<bool>(false);
    history->add_flag("--json", *json, "Print the runs as their stored JSON lines");
    history->callback([&options, &status, json] {
        const std::string path = historyPath();
        if (path.empty()) {
            std::fprintf(stderr, "No history: neither XDG_STATE_HOME nor HOME is set.\n");
            status = 1;
            return;
        }
        const RunHistoryRead read = RunHistory_read(path);
        if (!read.failure.empty()) {
            std::fprintf(stderr, "%s.\n", read.failure.c_str());
            status = 1;
            return;
        }
        if (read.skipped > 0) {
            std::fprintf(stderr, "%d unreadable line%s skipped in %s.\n", read.skipped,
                         read.skipped == 1 ? "" : "s", path.c_str());
        }
        status = 0;
        if (read.entries.empty()) {
            // Standard output stays JSON lines only.
            std::fprintf(*json || options.json ? stderr : stdout, "No runs recorded in %s.\n",
                         path.c_str());
            return;
        }
        if (*json || options.json) {
            for (const RunHistoryEntry& entry : read.entries) {
                std::printf("%s\n", entry.line.c_str());
            }
            return;
        }
        printTable(read.entries);
    });
}

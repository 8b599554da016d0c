// zarvik-faults: the fault campaign. Whole zarvik-cli runs against the virtual tool and the
// bench server, one fault injected per case, and a table of what each run showed, reported,
// cost and left behind. Exits 1 when any case differs from what the user is owed.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "case_run.h"

namespace {

std::string shown(const std::string& tag) {
    if (tag == "-") return "(none)";
    return tag.empty() ? "(no tag)" : tag;
}

std::string clip(const std::string& text, size_t width) {
    return text.size() <= width ? text : text.substr(0, width - 1) + "~";
}

// Why the case differs from its expectation; empty when it does not.
std::string verdict(const FaultCase& c, const CaseResult& r) {
    if (!r.note.empty() && r.status == -1 && !r.hung) return r.note;
    if (r.hung) return "hung";
    if (r.sanitizer) return r.note;
    if (r.staleData) return "stale data";
    if (c.status != 0 && r.claimedUpdated) return "claimed updated";
    if (r.status != c.status) return "exit " + std::to_string(r.status);
    if (!c.message.empty() && r.message != c.message) return "message";
    if (r.tag != c.tag) return "tag";
    if (r.seconds > r.boundSeconds) return "too slow";
    if (c.secondRun && !r.recovered) return "not recovered";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zarvik-faults: whole updater runs with one injected fault each"};
    bool shortForm = false;
    std::string only;
    std::string cli = ZARVIK_CLI;
    bool keep = false;
    app.add_flag("--short", shortForm, "A few representative cases (for CI)");
    app.add_option("--only", only, "The cases whose name contains this text");
    app.add_option("--cli", cli, "zarvik-cli to drive");
    app.add_flag("--keep", keep, "Keep the work folder (printed at the end)");
    CLI11_PARSE(app, argc, argv);

    std::string pattern = (std::filesystem::temp_directory_path() / "zarvik-faults-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "zarvik-faults: no work folder\n");
        return 1;
    }
    const std::filesystem::path dir = pattern;
    CaseRunner runner;
    std::string error;
    if (!runner.prepare(dir, cli, &error)) {
        std::fprintf(stderr, "zarvik-faults: %s\n", error.c_str());
        return 1;
    }
    std::printf("| %-36s | %-28s | %-40s | %-26s | %4s | %-16s | %-7s | %-5s | %-44s | %-9s | %s\n",
                "case", "step it hit", "message shown", "report tag", "exit", "time (bound)",
                "claimed", "stale", "second run's identification", "recovered", "verdict");
    std::fflush(stdout);
    int failed = 0, ran = 0;
    for (const FaultCase& c : faultCases()) {
        if (shortForm && !c.inShortForm) continue;
        if (!only.empty() && c.name.find(only) == std::string::npos) continue;
        ++ran;
        const CaseResult r = runner.run(c);
        const std::string why = verdict(c, r);
        if (!why.empty()) ++failed;
        char time[48];
        std::snprintf(time, sizeof time, "%5.1f s (%.0f s)", r.seconds, r.boundSeconds);
        std::printf(
            "| %-36s | %-28s | %-40s | %-26s | %4d | %-16s | %-7s | %-5s | %-44s | %-9s | %s\n",
            clip(c.name, 36).c_str(), clip(r.step, 28).c_str(), clip(r.message, 40).c_str(),
            shown(r.tag).c_str(), r.status, time,
            r.claimedUpdated ? (c.status == 0 ? "yes, ok" : "YES") : "never",
            r.staleData ? "YES" : "never", c.secondRun ? clip(r.secondFind, 44).c_str() : "-",
            c.secondRun ? (r.recovered ? "yes" : "NO") : "-",
            why.empty() ? "as expected" : why.c_str());
        if (!why.empty()) {
            std::printf("|   expected: \"%s\", tag %s, exit %d; limit: %s\n", c.message.c_str(),
                        shown(c.tag).c_str(), c.status, c.limitName.c_str());
        }
        std::fflush(stdout);
    }
    std::printf("%d case(s), %d as expected, %d differ\n", ran, ran - failed, failed);
    if (keep) {
        std::printf("work folder: %s\n", dir.c_str());
    } else {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return failed == 0 && ran > 0 ? 0 : 1;
}

#include <cstdio>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/updater_setup.h"
#include "server/server_session.h"
#include "server/updater_version.h"

void addCheckVersionCommand(CLI::App& app, const CliOptions& options, int& status) {
    auto* check =
        app.add_subcommand("check-version", "Ask the server whether a newer updater exists");
    check->callback([&options, &status] {
        auto setup = commandSetup(options, status);
        if (!setup) return;
        bool current = setup->delegate->applicationDidFinishLaunching();
        std::string address = setup->delegate->downloadAddress();
        // The window stays silent when the check cannot ask; a command asked for it must not.
        const std::string unreachable = ServerSession_failureText(setup->session.get());
        if (!unreachable.empty()) {
            if (options.json) {
                nlohmann::json out = {
                    {"event", "version"}, {"version", kUpdaterVersion}, {"error", unreachable}};
                std::printf("%s\n", out.dump().c_str());
            } else {
                std::fprintf(stderr, "%s\n", unreachable.c_str());
            }
            status = 1;
            return;
        }
        if (options.json) {
            nlohmann::json out = {
                {"event", "version"}, {"version", kUpdaterVersion}, {"current", current}};
            if (!current) out["downloadAddress"] = address;
            std::printf("%s\n", out.dump().c_str());
        } else if (current) {
            std::printf("The updater is up to date (version %s).\n", kUpdaterVersion);
        } else {
            std::printf("A newer updater is available: %s\n", address.c_str());
        }
        // A newer updater is news, not a failure.
        status = 0;
    });
}

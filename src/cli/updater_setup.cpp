#include "cli/updater_setup.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "link/link_settings.h"
#include "server/request_trace.h"
#include "server/server_config.h"

namespace {

// Hands an address to the desktop's browser, without a shell in between.
void openWithDesktop(const std::string& address) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) return;
    char program[] = "xdg-open";
    std::string argument = address;
    char* argv[] = {program, argument.data(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) == 0) {
        waitpid(pid, nullptr, 0);
    }
}

}  // namespace

std::unique_ptr<UpdaterSetup> makeUpdaterSetup(const CliOptions& options, ToolUse use,
                                               std::string* error, int* errorStatus) {
    *errorStatus = 2;
    auto config = ServerConfig_resolve(options.server, ServerEnvironment_current(), error,
                                       {options.caFile, options.ftpTls});
    if (!config) return nullptr;
    for (const std::string& warning : config->warnings) {
        std::fprintf(stderr, "zarvik-cli: warning: %s\n", warning.c_str());
    }
    auto setup = std::make_unique<UpdaterSetup>();
    if (!options.traceLink.empty()) {
        setup->linkTrace.reset(LinkTrace_open(options.traceLink, error));
        if (!setup->linkTrace) return nullptr;
    }
    setup->session.reset(ServerSession_create());
    ServerSession_configure(setup->session.get(), *config);
    if (options.trace) setup->session->trace = RequestTrace_toFile(stderr);

    CliUi::Settings ui;
    ui.json = options.json;
    ui.yes = options.yes || options.batchTool;
    // A tool of a batch whose watching process has gone must finish its update rather than
    // die on its next line: writes to the lost pipe then fail quietly.
    if (options.batchTool) std::signal(SIGPIPE, SIG_IGN);
    // A tool of a batch: its reinstall or vehicle change waits for the user's own Yes.
    if (options.batchTool && !options.yes) {
        ui.warning = [s = setup.get()] {
            return s->delegate != nullptr && s->delegate->forceFlag();
        };
    }
    // Questions need a person at a terminal; without one every answer is No.
    if (isatty(STDIN_FILENO)) setup->terminal.reset(std::fopen("/dev/tty", "r+"));
    ui.terminal = setup->terminal.get();
    ui.openInBrowser = openWithDesktop;
    setup->ui = std::make_unique<CliUi>(ui);
    setup->session->uploadProgress = [ui = setup->ui.get()](int percent) {
        ui->setProgress(percent);
    };

    LinkSettings link;
    link.port = LinkSettings_explicitPort(options.port);
    link.trace = setup->linkTrace.get();
    link.tool = LinkSettings_namedTool(options.tool);
    link.stop = &setup->stop;
    if (!options.sysfsRoot.empty()) link.sysfsRoot = options.sysfsRoot;
    if (!options.devRoot.empty()) link.devRoot = options.devRoot;
    std::string note;
    switch (ToolChoice_settle(link, use, setup->terminal.get(), options.yes, &note)) {
        case ToolChoiceResult::usageError:
            *error = note;
            return nullptr;
        case ToolChoiceResult::noChoice:
            *error = note;
            *errorStatus = 1;
            return nullptr;
        case ToolChoiceResult::go:
            if (!note.empty()) std::fprintf(stderr, "%s", note.c_str());
            break;
    }
    setup->delegate = std::make_unique<AppDelegate>(*setup->ui, *setup->session, link);
    setup->delegate->setHistory(historyPath(), [](const std::string& failure) {
        std::fprintf(stderr, "%s (the run itself is not affected).\n", failure.c_str());
    });
    AppDelegate* delegate = setup->delegate.get();
    setup->interrupts = std::make_unique<InterruptGuard>(
        setup->stop, [delegate] { return delegate->writingRun(); }, stderr);
    return setup;
}

int runStatus(UpdaterSetup& setup, bool ok) {
    if (!setup.stop.requested) return ok ? 0 : 1;
    std::fprintf(stderr,
                 "The update was stopped: the KTX2 may be unusable until it is programmed "
                 "again.\n");
    return kInterruptedStatus;
}

std::string historyPath() {
    return RunHistory_defaultPath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
}

std::unique_ptr<UpdaterSetup> commandSetup(const CliOptions& options, int& status, ToolUse use) {
    if (options.tools.size() > 1) {
        std::fprintf(stderr, "Only program takes --tool more than once.\n");
        status = 2;
        return nullptr;
    }
    std::string error;
    int errorStatus = 2;
    auto setup = makeUpdaterSetup(options, use, &error, &errorStatus);
    if (!setup) {
        // The tool lists end their own lines.
        std::fprintf(stderr, "%s%s", error.c_str(), error.ends_with('\n') ? "" : "\n");
        status = errorStatus;
    }
    return setup;
}

bool runFindDevice(UpdaterSetup& setup) {
    setup.delegate->portClicked();
    setup.delegate->waitIdle();
    setup.ui->finishProgress();
    return setup.ui->enabled(Control::Program);
}

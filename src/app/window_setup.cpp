#include "app/window_setup.h"

#include <QCoreApplication>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

#include "app/close_guard.h"
#include "server/request_trace.h"
#include "server/server_config.h"

std::unique_ptr<WindowSetup> makeWindowSetup(ServerSession& session, LinkSettings link) {
    auto setup = std::make_unique<WindowSetup>();
    setup->window = std::make_unique<MainWindow>();
    setup->ui = std::make_unique<QtUi>(*setup->window);
    setup->delegate = std::make_unique<AppDelegate>(*setup->ui, session, std::move(link));

    AppDelegate* delegate = setup->delegate.get();
    delegate->setFindAfterFailure(true);
    MainWindow* window = setup->window.get();
    setup->ui->onDownloadAnswer = [delegate](int answer) { delegate->downloadBoxResult(answer); };
    window->onChoiceChanged = [delegate](int index) { delegate->firmwareChoiceChanged(index); };
    QObject::connect(window->btnFind, &QPushButton::clicked, window,
                     [delegate] { delegate->portClicked(); });
    QObject::connect(window->btnProgram, &QPushButton::clicked, window,
                     [delegate] { delegate->programInBackground(); });
    QObject::connect(window->btnManual, &QPushButton::clicked, window,
                     [delegate] { delegate->manualClicked(); });
    window->setMemoryActions([delegate] { delegate->programMemOnlyClicked(); },
                             [delegate] { delegate->uploadFilesClicked(); });
    CloseGuard_install(*setup);
    return setup;
}

std::unique_ptr<WindowSetup> makeWindowSetup(const WindowOptions& options, std::string* error) {
    auto config =
        ServerConfig_resolve(options.server, ServerEnvironment_current(), error, options.transport);
    if (!config) return nullptr;
    for (const std::string& warning : config->warnings) {
        std::fprintf(stderr, "zarvik-updater: warning: %s\n", warning.c_str());
    }
    ServerSessionPtr session(ServerSession_create());
    ServerSession_configure(session.get(), *config);
    // The window has always printed one diagnostic line per request byte.
    session->trace = RequestTrace_toFile(stdout);

    LinkSettings link;
    link.port = LinkSettings_explicitPort(options.port);
    LinkTracePtr trace;
    if (!options.traceLink.empty()) {
        // A trace is an aid, not a reason to refuse the window.
        std::string traceError;
        trace.reset(LinkTrace_open(options.traceLink, &traceError));
        if (!trace) std::fprintf(stderr, "zarvik-updater: %s\n", traceError.c_str());
    }
    link.trace = trace.get();
    link.tool = LinkSettings_namedTool(options.tool);
    auto setup = makeWindowSetup(*session, std::move(link));
    setup->linkTrace = std::move(trace);
    // The window has no place for it: a history that cannot be written is told on stderr.
    setup->delegate->setHistory(
        RunHistory_defaultPath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME")),
        [](const std::string& failure) {
            std::fprintf(stderr, "zarvik-updater: %s (runs are not affected).\n", failure.c_str());
        });
    QtUi* ui = setup->ui.get();
    session->uploadProgress = [ui](int percent) { ui->setProgress(percent); };
    setup->ownedSession = std::move(session);
    return setup;
}

#include "app/close_guard.h"

#include <QGuiApplication>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <cstdio>

#ifndef QT_NO_SESSIONMANAGER
#include <QSessionManager>
#endif

#include "app/window_setup.h"

namespace {

void tellCutShort(AppDelegate& delegate, const char* why) {
    std::fprintf(stderr,
                 "zarvik-updater: %s; the KTX2 may be unusable until it is programmed "
                 "again.\n",
                 why);
    delegate.recordCutShort(why);
}

}  // namespace

void CloseGuard_install(WindowSetup& setup) {
    AppDelegate* delegate = setup.delegate.get();
    QtUi* ui = setup.ui.get();
    MainWindow* window = setup.window.get();
    // A Yes holds for the rest of the process: the session's close after it is not asked again.
    auto confirmed = std::make_shared<bool>(false);

    window->mayClose = [delegate, ui, confirmed] {
        if (*confirmed || !delegate->writingRun()) return true;
        // A question is open: it is answered first, and the close is asked for again after.
        if (ui->boxOpen()) return false;
        *confirmed = ui->askCloseDuringUpdate();
        return *confirmed;
    };
    auto* quit = new QShortcut(QKeySequence::Quit, window);
    QObject::connect(quit, &QShortcut::activated, window, [window] { window->close(); });
    QObject::connect(window->btnClose, &QPushButton::clicked, window,
                     [window] { window->close(); });

    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) return;
#ifndef QT_NO_SESSIONMANAGER
    QObject::connect(app, &QGuiApplication::commitDataRequest, window,
                     [delegate, ui, confirmed](QSessionManager& manager) {
                         if (*confirmed || !delegate->writingRun()) return;
                         if (manager.allowsInteraction() && !ui->boxOpen()) {
                             *confirmed = ui->askCloseDuringUpdate();
                             if (!*confirmed) manager.cancel();
                             manager.release();
                             if (!*confirmed) return;
                         }
                         tellCutShort(*delegate, "The session ended during an update");
                     });
#endif
    QObject::connect(app, &QCoreApplication::aboutToQuit, window, [delegate] {
        if (delegate->writingRun())
            tellCutShort(*delegate, "The updater was closed during an update");
    });
}

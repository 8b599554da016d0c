// zarvik-window-shot: opens the window as zarvik-updater does (server and port from the
// environment), presses Find Device, waits for the end and saves the window as a picture.
// With --program it goes on as a user would: Program, Yes, and waits for the update's end;
// --mid-update also draws the window once the firmware write is under way.
#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>

#include "app/window_setup.h"

namespace {

// Serves the window until no workflow runs; false after `seconds`.
bool serveUntilIdle(AppDelegate* delegate, int seconds,
                    const std::function<void()>& eachTurn = [] {}) {
    auto idle = std::async(std::launch::async, [delegate] { delegate->waitIdle(); });
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (idle.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        eachTurn();
    }
    return true;
}

[[noreturn]] void giveUp(const char* what) {
    std::fprintf(stderr, "zarvik-window-shot: %s did not end\n", what);
    std::fflush(nullptr);
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption out("out", "PNG to write.", "file");
    QCommandLineOption program("program", "Then press Program and answer Yes.");
    parser.addOption(out);
    QCommandLineOption middle("mid-update", "With --program, also draw the update mid-way.",
                              "file");
    parser.addOption(program);
    parser.addOption(middle);
    parser.process(app);
    const bool update = parser.isSet(program);

    std::string error;
    auto setup = makeWindowSetup(WindowOptions{}, &error);
    if (!setup) {
        std::fprintf(stderr, "zarvik-window-shot: %s\n", error.c_str());
        return 2;
    }
    setup->ownedSession->trace = nullptr;
    setup->ui->answerBox = [update](const QtBox& box) {
        std::fprintf(stderr, "box: %s\n", box.title.c_str());
        // Yes to the question that starts the update, the first button everywhere else.
        bool yes = update && box.buttons.size() == 2 && box.buttons[1] == "Yes";
        return yes ? kSecondButton : kFirstButton;
    };
    setup->ui->openInBrowser = [](const std::string&) {};
    setup->window->show();
    setup->delegate->applicationDidFinishLaunching();
    setup->window->btnFind->click();

    AppDelegate* delegate = setup->delegate.get();
    if (!serveUntilIdle(delegate, 60)) giveUp("Find Device");
    bool identified = setup->window->btnProgram->isEnabled();
    if (identified && update) {
        setup->window->btnProgram->click();
        bool drawn = !parser.isSet(middle);
        MainWindow* window = setup->window.get();
        // Mid-way through the firmware, once the bar shows the time remaining.
        auto drawMidway = [&] {
            if (drawn || !window->txtMsg->text().startsWith("Writing Firmware") ||
                window->bar->value() < 40 || !window->bar->isTextVisible()) {
                return;
            }
            drawn = true;
            QCoreApplication::processEvents();
            if (!window->grab().save(parser.value(middle))) {
                std::fprintf(stderr, "zarvik-window-shot: cannot write %s\n",
                             parser.value(middle).toStdString().c_str());
            }
        };
        if (!serveUntilIdle(delegate, 600, drawMidway)) giveUp("the update");
        if (!drawn) std::fprintf(stderr, "zarvik-window-shot: no mid-update picture\n");
    }
    // Let the window settle into its final layout before it is drawn.
    QTimer::singleShot(300, [&] { QCoreApplication::exit(0); });
    app.exec();
    const std::string message = setup->window->txtMsg->text().toStdString();
    if (parser.isSet(out) && !setup->window->grab().save(parser.value(out))) {
        std::fprintf(stderr, "zarvik-window-shot: cannot write %s\n",
                     parser.value(out).toStdString().c_str());
        return 1;
    }
    if (!identified) {
        std::fprintf(stderr, "zarvik-window-shot: the tool was not identified: %s\n",
                     message.c_str());
        return 1;
    }
    if (update) {
        std::fprintf(stderr, "message: %s\n", message.c_str());
        if (message != "KTX2 Firmware Updated Successfully") return 1;
    }
    return 0;
}

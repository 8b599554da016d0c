// zarvik-window-shot: opens the window as zarvik-updater does (server and port from the
// environment), presses Find Device, waits for the end and saves the window as a picture.
// With --program it goes on as a user would: Program, Yes, and waits for the update's end;
// --mid-update also draws the window once the firmware write is under way. --choice draws
// the window with Find Device's question of which tool to take, the tools being those of
// the fake sysfs tree given with --sysfs, and takes the first.
#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>

#include "app/window_setup.h"
#include "server/server_config.h"

namespace {

// Serves the window until no workflow runs; false after `seconds`.
bool serveUntilIdle(
    AppDelegate* delegate, int seconds, const std::function<void()>& eachTurn = [] {}) {
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

// Once the question of which tool appears: draws it over the window into `file` and
// takes the first tool.
void drawToolChoice(QWidget* window, const QString& file) {
    auto* poll = new QTimer(window);
    QObject::connect(poll, &QTimer::timeout, window, [window, file, poll] {
        QWidget* box = QApplication::activeModalWidget();
        if (box == nullptr || box->objectName() != "toolChoice" || !box->isVisible()) return;
        poll->stop();
        QTimer::singleShot(300, box, [window, box, file] {
            const QRect area = window->frameGeometry().united(box->frameGeometry());
            const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
                0, area.x(), area.y(), area.width(), area.height());
            if (!shot.save(file)) {
                std::fprintf(stderr, "zarvik-window-shot: cannot write %s\n",
                             file.toStdString().c_str());
            }
            for (QPushButton* button : box->findChildren<QPushButton*>()) {
                if (button->text().startsWith("USB serial")) {
                    button->click();
                    return;
                }
            }
        });
    });
    poll->start(50);
}

// The window as the program starts it, but finding tools in a fake sysfs tree.
std::unique_ptr<WindowSetup> windowOnTree(const std::string& root, ServerSessionPtr* session,
                                          std::string* error) {
    auto config = ServerConfig_resolve("", ServerEnvironment_current(), error);
    if (!config) return nullptr;
    session->reset(ServerSession_create());
    ServerSession_configure(session->get(), *config);
    LinkSettings link;
    link.sysfsRoot = root + "/sys";
    link.devRoot = root + "/dev";
    return makeWindowSetup(**session, link);
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
    QCommandLineOption choice("choice", "Draw Find Device's choice of tool.", "file");
    QCommandLineOption sysfs("sysfs", "With --choice, the fake sysfs tree's folder.", "dir");
    parser.addOption(program);
    parser.addOption(middle);
    parser.addOption(choice);
    parser.addOption(sysfs);
    parser.process(app);
    const bool update = parser.isSet(program);

    std::string error;
    ServerSessionPtr session;
    auto setup = parser.isSet(choice)
                     ? windowOnTree(parser.value(sysfs).toStdString(), &session, &error)
                     : makeWindowSetup(WindowOptions{}, &error);
    if (!setup) {
        std::fprintf(stderr, "zarvik-window-shot: %s\n", error.c_str());
        return 2;
    }
    if (session == nullptr) session = std::move(setup->ownedSession);
    session->trace = nullptr;
    // The choice is drawn as the user sees it: a real box, answered by a click.
    if (parser.isSet(choice)) {
        drawToolChoice(setup->window.get(), parser.value(choice));
    } else {
        setup->ui->answerBox = [update](const QtBox& box) {
            std::fprintf(stderr, "box: %s\n", box.title.c_str());
            // Yes to the question that starts the update, the first button everywhere else.
            bool yes = update && box.buttons.size() == 2 && box.buttons[1] == "Yes";
            return yes ? kSecondButton : kFirstButton;
        };
    }
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

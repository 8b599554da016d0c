// zarvik-window-shot: opens the window as zarvik-updater does (server and port from the
// environment), presses Find Device, waits for the end and saves the window as a picture.
#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <future>

#include "app/window_setup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption out("out", "PNG to write.", "file");
    parser.addOption(out);
    parser.process(app);

    std::string error;
    auto setup = makeWindowSetup(WindowOptions{}, &error);
    if (!setup) {
        std::fprintf(stderr, "zarvik-window-shot: %s\n", error.c_str());
        return 2;
    }
    setup->ownedSession->trace = nullptr;
    setup->ui->answerBox = [](const QtBox& box) {
        std::fprintf(stderr, "box: %s\n", box.title.c_str());
        return kFirstButton;
    };
    setup->ui->openInBrowser = [](const std::string&) {};
    setup->window->show();
    setup->delegate->applicationDidFinishLaunching();
    setup->window->btnFind->click();

    AppDelegate* delegate = setup->delegate.get();
    auto idle = std::async(std::launch::async, [delegate] { delegate->waitIdle(); });
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (idle.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() > end) {
            std::fprintf(stderr, "zarvik-window-shot: Find Device did not end\n");
            std::fflush(nullptr);
            std::_Exit(1);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // Let the window settle into its final layout before it is drawn.
    QTimer::singleShot(300, [&] { QCoreApplication::exit(0); });
    app.exec();
    bool identified = setup->window->btnProgram->isEnabled();
    if (!setup->window->grab().save(parser.value(out))) {
        std::fprintf(stderr, "zarvik-window-shot: cannot write %s\n",
                     parser.value(out).toStdString().c_str());
        return 1;
    }
    if (!identified) {
        std::fprintf(stderr, "zarvik-window-shot: the tool was not identified: %s\n",
                     setup->window->txtMsg->text().toStdString().c_str());
        return 1;
    }
    return 0;
}

// zarvik-updater: the window application.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>

#include "app/window_setup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("zarvik-updater");
    QApplication::setApplicationVersion("1.3");
    QApplication::setDesktopFileName("zarvik-updater");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Firmware updater for the KTX2 diagnostic interface\n\nProxies: https_proxy, ftp_proxy, "
        "all_proxy and no_proxy as for curl; https requests and the upload cross a proxy only "
        "as CONNECT tunnels.");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption server("server", "Server as [https://]HOST[:PORT].", "host");
    QCommandLineOption caFile(
        "ca-file", "Trust the certificate authorities in this file (PEM) instead of the system's.",
        "file");
    QCommandLineOption ftpTls("ftp-tls",
                              "Upload by FTP over TLS only, also with an http:// server.");
    QCommandLineOption port("port", "Serial device of the tool.", "device");
    parser.addOption(server);
    QCommandLineOption tool("tool", "USB serial of the tool to use.", "serial");
    parser.addOption(port);
    QCommandLineOption traceLink("trace-link",
                                 "Append every frame to and from the tool to this file.", "file");
    parser.addOption(traceLink);
    parser.addOption(tool);
    parser.addOption(caFile);
    parser.addOption(ftpTls);
    parser.process(app);

    WindowOptions options;
    options.server = parser.value(server).toStdString();
    options.port = parser.value(port).toStdString();
    options.traceLink = parser.value(traceLink).toStdString();
    options.tool = parser.value(tool).toStdString();
    options.transport.caFile = parser.value(caFile).toStdString();
    options.transport.ftpTls = parser.isSet(ftpTls);
    std::string error;
    auto setup = makeWindowSetup(options, &error);
    if (!setup) {
        std::fprintf(stderr, "zarvik-updater: %s\n", error.c_str());
        return 2;
    }
    setup->window->show();
    setup->delegate->startUp();
    int status = app.exec();
    // No orderly shutdown: a workflow may still be running, and the tool and the server
    // cope with an updater that simply goes away.
    std::fflush(nullptr);
    std::_Exit(status);
}

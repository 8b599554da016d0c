#include <cstdio>

#include "cli/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"zarvik-cli: firmware updater for the KTX2 diagnostic interface"};
    CliOptions options;
    int status = 0;
    app.add_option("--server", options.server, "Server as [https://]HOST[:PORT]");
    app.add_option("--ca-file", options.caFile,
                   "Trust the certificate authorities in FILE (PEM) instead of the system's")
        ->type_name("FILE");
    app.add_flag("--ftp-tls", options.ftpTls,
                 "Upload by FTP over TLS only (AUTH TLS), also with an http:// server");
    app.footer(
        "Proxies: https_proxy, ftp_proxy, all_proxy and no_proxy as for curl; https requests\n"
        "and the upload cross a proxy only as CONNECT tunnels.");
    app.add_option("--port", options.port, "Serial device of the tool");
    app.add_option("--tool", options.tools,
                   "USB serial of the tool to use (see ports); program takes several")
        ->each([&options](const std::string& serial) { options.tool = serial; });
    app.add_flag("--yes", options.yes, "Answer Yes to every question");
    app.add_option("--sysfs-root", options.sysfsRoot)->group("");
    app.add_option("--dev-root", options.devRoot)->group("");
    app.add_flag("--batch-tool", options.batchTool)->group("");
    app.add_flag("--json", options.json, "Print one JSON object per event");
    app.add_flag("--trace", options.trace, "Print the server request diagnostics");
    app.add_option("--trace-link", options.traceLink,
                   "Append every frame to and from the tool to FILE")
        ->type_name("FILE");
    app.require_subcommand(1);

    addFindCommand(app, options, status);
    addProgramCommand(app, options, status);
    addMemoryCommands(app, options, status);
    addManualCommand(app, options, status);
    addCheckVersionCommand(app, options, status);
    addInspectCommand(app, options, status);
    addPortsCommand(app, options, status);
    addHistoryCommand(app, options, status);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    return status;
}

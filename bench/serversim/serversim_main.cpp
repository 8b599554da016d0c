// zarvik-serversim: the bench server as a program, for scripts and the demo. Runs until
// interrupted; tells where it listens on standard output and, when asked, in files.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>

#include "bench_certificates.h"
#include "bench_server.h"

namespace {

// Whole or not at all: a script polling for the file never reads half of it.
bool writeFile(const std::string& path, const std::string& text) {
    if (path.empty()) return true;
    std::string partial = path + ".partial";
    {
        std::ofstream out(partial);
        out << text;
        if (!out) return false;
    }
    return std::rename(partial.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zarvik-serversim: the maker's web and FTP server on loopback"};
    BenchServerOptions options;
    Misbehaviour& m = options.misbehaviour;
    std::string catalogue, records, log, uploads, portFile, envFile;
    bool noFtp = false;
    bool tls = false;
    app.add_option("--catalogue", catalogue, "Folder of files served by download|");
    app.add_option("--records", records, "Tool records (JSON)");
    app.add_option("--log", log, "Append one JSON line per request to this file");
    app.add_option("--upload-dir", uploads, "Folder of the FTP account (default: temporary)");
    app.add_flag("--no-ftp", noFtp, "Run without the FTP server");
    app.add_option("--ftp-user", options.ftpUser, "Upload account user");
    app.add_option("--ftp-password", options.ftpPassword, "Upload account password");
    app.add_option("--port", options.httpPort, "HTTP port (default: any free one)");
    app.add_option("--ftp-port", options.ftpPort, "FTP port (default: any free one)");
    app.add_option("--port-file", portFile, "Write the HTTP port to this file");
    app.add_option("--env-file", envFile, "Write ZARVIK_* settings for a shell to this file");
    app.add_flag("--tls", tls,
                 "HTTPS and FTP by explicit TLS, under a private CA written beside the env file");
    app.add_option("--refuse", m.refusedWords, "Answer this request word with a failure");
    app.add_flag("--outdated", m.outdatedUpdater, "Answer |NO|1.4| to the version check");
    app.add_flag("--corrupt-crc", m.corruptCrc, "Send downloads with a wrong CRC-32");
    app.add_flag("--empty", m.emptyAnswers, "Answer every request with an empty body");
    app.add_flag("--stall", m.stall, "Accept every POST and never answer");
    app.add_flag("--drop-first-registration", m.dropFirstRegistration,
                 "Refuse the first uploadUserFile|");
    app.add_option("--trickle-ms", m.trickleMs, "Send downloads 64 bytes per pause");
    app.add_option("--key", m.keyText, "Hand out this key text");
    app.add_option("--stall-word", m.stalledWords, "Accept this request word, never answer");
    app.add_option("--error-word", m.errorWords, "Answer this request word with HTTP 500 and an error page");
    app.add_option("--enormous-word", m.enormousWords, "Answer this word with 300 MiB more");
    app.add_flag("--close-mid-download", m.closeMidDownload, "Close downloads half way");
    app.add_flag("--truncated-downloads", m.truncatedDownloads, "Send half of each file");
    app.add_flag("--ftp-stall", m.ftpStall, "An FTP server that never greets");
    CLI11_PARSE(app, argc, argv);
    options.catalogueDir = catalogue;
    options.toolRecordsPath = records;
    options.logPath = log;
    options.uploadDir = uploads;
    options.ftp = !noFtp;

    // Wait for the end in this thread; the server's threads must not take the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::string error;
    std::optional<BenchTlsFiles> tlsFiles;
    if (tls) {
        // Beside the env file, so that whoever reads one finds the other.
        std::filesystem::path dir = envFile.empty()
                                        ? std::filesystem::current_path()
                                        : std::filesystem::absolute(envFile).parent_path();
        tlsFiles = BenchCertificate_writeServerSet(dir, &error);
        if (!tlsFiles) {
            std::fprintf(stderr, "zarvik-serversim: %s\n", error.c_str());
            return 1;
        }
        options.tlsCertificate = tlsFiles->certificate;
        options.tlsKey = tlsFiles->key;
    }

    BenchServer server;
    if (!server.start(options, &error)) {
        std::fprintf(stderr, "zarvik-serversim: %s\n", error.c_str());
        return 1;
    }
    std::string http = "127.0.0.1:" + std::to_string(server.httpPort());
    std::string env = "ZARVIK_SERVER=" + std::string(tls ? "https://" : "") + http + "\n";
    if (tlsFiles) env += "CURL_CA_BUNDLE=" + tlsFiles->authority.string() + "\n";
    if (options.ftp) {
        env += "ZARVIK_FTP_PORT=" + std::to_string(server.ftpPort()) + "\n" +
               "ZARVIK_FTP_USER=" + options.ftpUser + "\n" +
               "ZARVIK_FTP_PASSWORD=" + options.ftpPassword + "\n";
    }
    if (!writeFile(portFile, std::to_string(server.httpPort()) + "\n") ||
        !writeFile(envFile, env)) {
        std::fprintf(stderr, "zarvik-serversim: cannot write the port files\n");
        return 1;
    }
    std::printf("zarvik-serversim: %s %s ftp%s %s uploads %s\n", tls ? "https" : "http",
                http.c_str(), tls ? "+tls" : "",
                options.ftp ? ("127.0.0.1:" + std::to_string(server.ftpPort())).c_str() : "-",
                server.uploadDir().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}

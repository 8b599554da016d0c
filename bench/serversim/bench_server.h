// The bench server: the maker's web server on loopback. It hands out keys, descrambles each
// request, answers every request word from a catalogue folder and a tool records file,
// runs a real FTP server (pyftpdlib) for uploads, logs each request, and misbehaves on
// demand. Tests run it in-process; zarvik-serversim wraps it as a program.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "misbehaviour.h"

struct BenchServerOptions {
    std::filesystem::path catalogueDir;     // files served by "download|"
    std::filesystem::path toolRecordsPath;  // JSON (tool_records.h); empty: none known
    std::filesystem::path logPath;          // one JSON line per request; empty: none
    std::filesystem::path uploadDir;        // the FTP account's folder; empty: a temporary one
    bool ftp = true;
    std::string ftpUser = "ktxupload";
    std::string ftpPassword = "ktxupload";
    int httpPort = 0;  // 0: any free port
    int ftpPort = 0;
    // Both servers speak TLS with this certificate and key (PEM files); empty: plain text.
    std::filesystem::path tlsCertificate;
    std::filesystem::path tlsKey;
    bool outdatedTls = false;  // HTTPS by TLS 1.1 and nothing newer, as an old server
    Misbehaviour misbehaviour;
};

class BenchServer {
  public:
    BenchServer();
    ~BenchServer();
    BenchServer(const BenchServer&) = delete;
    BenchServer& operator=(const BenchServer&) = delete;

    // Listens on 127.0.0.1 only. False, with the reason in `error`, when it cannot.
    bool start(const BenchServerOptions& options, std::string* error);
    void stop();

    int httpPort() const;
    int ftpPort() const;             // 0 without FTP
    std::string host() const;        // "127.0.0.1:port/", as the session wants it
    std::string uploadHost() const;  // the same for FTP
    std::filesystem::path uploadDir() const;
    bool tls() const;

    // What reached the servers past their TLS handshake, if any: POSTs to either script
    // (key requests included) and the FTP command words in order.
    int postsHeard() const;
    std::vector<std::string> ftpCommandsHeard() const;

    void setMisbehaviour(const Misbehaviour& misbehaviour);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

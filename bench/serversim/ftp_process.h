// The bench's FTP server: pyftpdlib in a child process, stopped with its owner.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

class FtpProcess {
  public:
    FtpProcess() = default;
    FtpProcess(const FtpProcess&) = delete;
    FtpProcess& operator=(const FtpProcess&) = delete;
    ~FtpProcess() { stop(); }

    struct Settings {
        std::filesystem::path root;
        std::string user;
        std::string password;
        int port = 0;  // 0: any free port
        // Explicit TLS (AUTH TLS) required on both channels; empty: plain FTP.
        std::filesystem::path tlsCertificate;
        std::filesystem::path tlsKey;
        // The data connections show this certificate instead; empty: the same.
        std::filesystem::path dataCertificate;
        std::filesystem::path dataKey;
        bool readOnly = false;  // the account may log in and list, never store
        int refusedStores = 0;  // the first stores answered "451" and their data dropped
    };

    // Serves `root` on 127.0.0.1 with one account.
    bool start(const Settings& settings, std::string* error);
    void stop();
    int port() const { return port_; }
    // The command words the server received, in order (USER, PASS, AUTH, ...).
    std::vector<std::string> commandsHeard() const;

  private:
    pid_t pid_ = -1;
    int stdinPipe_ = -1;  // closing it tells the child to go
    int port_ = 0;
    std::filesystem::path commandLog_;
};

// The bench's FTP server: pyftpdlib in a child process, stopped with its owner.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

class FtpProcess {
  public:
    FtpProcess() = default;
    FtpProcess(const FtpProcess&) = delete;
    FtpProcess& operator=(const FtpProcess&) = delete;
    ~FtpProcess() { stop(); }

    // Serves `root` on 127.0.0.1 (`port` 0: any free port) with one account.
    bool start(const std::filesystem::path& root, const std::string& user,
               const std::string& password, int port, std::string* error);
    void stop();
    int port() const { return port_; }

  private:
    pid_t pid_ = -1;
    int stdinPipe_ = -1;  // closing it tells the child to go
    int port_ = 0;
};

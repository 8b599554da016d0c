// A real HTTP proxy on loopback for tests: Debian's tinyproxy in a child process, as a
// company network has one, stopped with its owner.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

class ProxyProcess {
  public:
    ProxyProcess() = default;
    ProxyProcess(const ProxyProcess&) = delete;
    ProxyProcess& operator=(const ProxyProcess&) = delete;
    ~ProxyProcess() { stop(); }

    struct Settings {
        std::filesystem::path dir;  // its configuration and log
        // The only ports CONNECT may reach, as many proxies allow only 443; empty: any.
        std::vector<int> connectPorts;
    };

    bool start(const Settings& settings, std::string* error);
    void stop();
    int port() const { return port_; }
    // Its log: each request it carried or refused.
    std::string log() const;

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::filesystem::path logPath_;
};

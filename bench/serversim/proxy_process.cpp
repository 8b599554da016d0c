#include "proxy_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace {

constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";
constexpr int kStartTimeoutMs = 10000;

// A port free now; tinyproxy takes no "any free port".
int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

bool accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

}  // namespace

bool ProxyProcess::start(const Settings& settings, std::string* error) {
    stop();
    auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = "proxy: " + why;
        stop();
        return false;
    };
    if (access(kTinyproxy, X_OK) != 0) return fail(std::string(kTinyproxy) + " is not installed");
    std::filesystem::create_directories(settings.dir);
    port_ = freePort();
    logPath_ = settings.dir / "tinyproxy.log";
    const std::filesystem::path config = settings.dir / "tinyproxy.conf";
    {
        std::ofstream out(config);
        out << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
            << "Allow 127.0.0.1\nDisableViaHeader Yes\nLogLevel Info\n"
            << "LogFile \"" << logPath_.string() << "\"\n";
        for (int p : settings.connectPorts) out << "ConnectPort " << p << "\n";
    }
    std::string program = kTinyproxy;
    std::string foreground = "-d";
    std::string configFlag = "-c";
    std::string configPath = config.string();
    char* argv[] = {program.data(), foreground.data(), configFlag.data(), configPath.data(),
                    nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const std::string output = (settings.dir / "tinyproxy.out").string();
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int rc = posix_spawn(&pid_, kTinyproxy, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return fail("cannot start tinyproxy");
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (!accepts(port_)) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return fail("tinyproxy exited at start (see " + output + ")");
        }
        if (std::chrono::steady_clock::now() > deadline) return fail("tinyproxy did not listen");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void ProxyProcess::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string ProxyProcess::log() const {
    std::ifstream in(logPath_);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

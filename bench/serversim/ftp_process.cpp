#include "ftp_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "bench_paths.h"

extern char** environ;

namespace {

constexpr const char* kPython = "/usr/bin/python3";  // the interpreter with pyftpdlib
constexpr int kStartTimeoutMs = 20000;

// The first line the child prints, or empty when none comes in time.
std::string readLine(int fd, int timeoutMs) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (poll(&p, 1, static_cast<int>(std::max<int64_t>(1, left.count()))) <= 0) continue;
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n <= 0) break;
        if (c == '\n') return line;
        line += c;
    }
    return {};
}

}  // namespace

bool FtpProcess::start(const Settings& settings, std::string* error) {
    stop();
    char pattern[] = "/tmp/zarvik-ftp-commands-XXXXXX";
    int logFd = mkstemp(pattern);
    if (logFd < 0) return false;
    close(logFd);
    commandLog_ = pattern;
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return false;
    }
    std::string script = benchBinary("ftp_server.py");
    std::vector<std::string> args = {kPython,         script,
                                     "--root",        settings.root.string(),
                                     "--user",        settings.user,
                                     "--password",    settings.password,
                                     "--port",        std::to_string(settings.port),
                                     "--command-log", commandLog_.string()};
    if (!settings.tlsCertificate.empty()) {
        args.insert(args.end(), {"--certificate", settings.tlsCertificate.string(), "--key",
                                 settings.tlsKey.string()});
    }
    if (!settings.dataCertificate.empty()) {
        args.insert(args.end(), {"--data-certificate", settings.dataCertificate.string(),
                                 "--data-key", settings.dataKey.string()});
    }
    if (settings.readOnly) args.push_back("--read-only");
    if (settings.refusedStores > 0) {
        args.insert(args.end(), {"--refuse-stores", std::to_string(settings.refusedStores)});
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        if (error != nullptr) *error = std::string("cannot start ") + kPython;
        return false;
    }
    pid_ = pid;
    stdinPipe_ = in[1];
    std::string line = readLine(out[0], kStartTimeoutMs);
    close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
        stop();
        if (error != nullptr) *error = "the FTP server (pyftpdlib) did not start";
        return false;
    }
    return true;
}

void FtpProcess::stop() {
    if (stdinPipe_ >= 0) {
        close(stdinPipe_);
        stdinPipe_ = -1;
    }
    if (pid_ > 0) {
        int status = 0;
        for (int i = 0; i < 200; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }
    port_ = 0;
    if (!commandLog_.empty()) {
        std::error_code ec;
        std::filesystem::remove(commandLog_, ec);
        commandLog_.clear();
    }
}

std::vector<std::string> FtpProcess::commandsHeard() const {
    std::vector<std::string> words;
    std::ifstream in(commandLog_);
    for (std::string line; std::getline(in, line);) words.push_back(line);
    return words;
}

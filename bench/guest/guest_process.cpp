#include "guest/guest_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (auto& t : texts) p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

// Ours, with the caller's variables in place of those of the same name.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('=') + 1);
        const bool replaced =
            std::ranges::any_of(extra, [&](const std::string& x) { return x.starts_with(name); });
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// In a group of its own, so that a time limit ends whatever it started too.
pid_t spawn(const std::vector<std::string>& argv, int outFd,
            const std::vector<std::string>& environment) {
    std::vector<std::string> args = argv;
    std::vector<std::string> env = mergedEnvironment(environment);
    std::vector<char*> a = pointers(args), e = pointers(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, outFd, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, a[0], &actions, &attributes, a.data(), e.data()) != 0) pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int statusOf(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

}  // namespace

CommandRun Command_run(const std::vector<std::string>& argv, std::chrono::seconds limit,
                       const std::vector<std::string>& environment) {
    CommandRun run;
    char path[] = "/tmp/guest-run-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) return run;
    const auto start = Clock::now();
    const pid_t pid = spawn(argv, fd, environment);
    if (pid > 0) {
        int waitStatus = 0;
        bool ended = false;
        while (!ended && Clock::now() - start < limit) {
            ended = ::waitpid(pid, &waitStatus, WNOHANG) == pid;
            if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (ended) {
            run.status = statusOf(waitStatus);
        } else {
            ::kill(-pid, SIGTERM);
            std::this_thread::sleep_for(std::chrono::seconds(2));
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &waitStatus, 0);
            run.status = 124;
        }
    }
    run.seconds = Seconds_since(start);
    ::close(fd);
    run.out = File_read(path);
    ::unlink(path);
    return run;
}

std::string CommandRun_summary(const CommandRun& run) {
    return "exit " + std::to_string(run.status) + ": " + Text_lastLine(run.out).substr(0, 40);
}

CommandRun Shell_run(const std::string& script, std::chrono::seconds limit) {
    return Command_run({"/bin/bash", "-c", script}, limit);
}

std::string Shell_line(const std::string& script) {
    const std::vector<std::string> lines = Text_lines(Shell_run(script).out);
    return lines.empty() ? "" : lines.front();
}

pid_t Process_start(const std::vector<std::string>& argv, const std::string& log,
                    const std::vector<std::string>& environment) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    const pid_t pid = spawn(argv, fd, environment);
    ::close(fd);
    return pid;
}

int Process_stop(pid_t pid) {
    if (pid <= 0) return -1;
    ::kill(pid, SIGTERM);
    int waitStatus = 0;
    if (::waitpid(pid, &waitStatus, 0) != pid) return -1;
    return statusOf(waitStatus);
}

bool Process_running(pid_t pid) {
    // Looked at, not reaped: Process_stop still collects its status.
    siginfo_t info{};
    return pid > 0 &&
           ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

std::string File_read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool File_write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

std::vector<std::string> Text_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Text_lastLine(const std::string& text) {
    const std::vector<std::string> lines = Text_lines(text);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (line->find_first_not_of(" \t\r") != std::string::npos) return *line;
    }
    return "";
}

bool Text_holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

double Seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

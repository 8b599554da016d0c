#include "cli/batch_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

#include "cli/batch_view.h"
#include "cli/interrupt_guard.h"
#include "core/stop_request.h"
#include "link/attached_tools.h"

using Clock = std::chrono::steady_clock;

namespace {

// The tools to update, each with the options that name it; empty with `error` set (and
// `status` 2 for a usage error, else 1) when they cannot be updated together.
std::vector<BatchTool> planTools(const CliOptions& options, const BatchRequest& request,
                                 std::string* error, int* status) {
    *status = 2;
    if (request.all && !options.port.empty()) {
        *error = "--all and --port cannot be used together.";
        return {};
    }
    if (request.all && !request.tools.empty()) {
        *error = "--all and --tool cannot be used together.";
        return {};
    }
    for (size_t i = 0; i < request.tools.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (request.tools[i] == request.tools[j]) {
                *error = "--tool " + request.tools[i] + " is given twice.";
                return {};
            }
        }
    }
    LinkSettings link;
    if (!options.sysfsRoot.empty()) link.sysfsRoot = options.sysfsRoot;
    if (!options.devRoot.empty()) link.devRoot = options.devRoot;
    const std::vector<SerialPortInfo> attached = AttachedTools_list(link);
    // Two tools that show one USB serial cannot be told apart once they restart.
    std::set<std::string> shared;
    for (const SerialPortInfo& tool : attached) {
        if (!tool.usbSerial.empty() && !AttachedTools_namedBySerial(attached, tool)) {
            shared.insert(tool.usbSerial);
        }
    }
    std::vector<BatchTool> tools;
    if (request.all) {
        if (!shared.empty()) {
            *error = "Several attached tools show the USB serial " + *shared.begin() +
                     ": they cannot be updated together. Update them one at a time with "
                     "--port DEVICE.";
            return {};
        }
        for (const SerialPortInfo& port : attached) {
            BatchTool tool;
            tool.name = port.usbSerial.empty() ? port.devicePath : port.usbSerial;
            tool.select = port.usbSerial.empty()
                              ? std::vector<std::string>{"--port", port.devicePath}
                              : std::vector<std::string>{"--tool", port.usbSerial};
            tools.push_back(std::move(tool));
        }
        if (tools.empty()) {
            *error = "No KTX2 tool is attached.";
            *status = 1;
        }
        return tools;
    }
    for (const std::string& serial : request.tools) {
        if (shared.contains(serial)) {
            *error = "Several attached tools show the USB serial " + serial +
                     ": they cannot be updated together. Update them one at a time with "
                     "--port DEVICE.";
            return {};
        }
        BatchTool tool;
        tool.name = serial;
        tool.select = {"--tool", serial};
        tools.push_back(std::move(tool));
    }
    return tools;
}

// Once for the batch: yes by --yes or the person at the terminal; no terminal is a No.
bool askOnce(const CliOptions& options, const std::vector<BatchTool>& tools, FILE* err) {
    if (options.yes) return true;
    FILE* terminal = ::isatty(STDIN_FILENO) ? std::fopen("/dev/tty", "r+") : nullptr;
    if (terminal == nullptr) {
        std::fprintf(err, "Updating %zu tools needs a Yes: add --yes to answer it.\n",
                     tools.size());
        return false;
    }
    std::fprintf(terminal, "Update the firmware of these %zu KTX2 tools?\n", tools.size());
    for (const BatchTool& tool : tools) std::fprintf(terminal, "  %s\n", tool.name.c_str());
    std::fprintf(terminal,
                 "A reinstall or a change of vehicle type is declined for its tool unless "
                 "--yes is given.\nContinue? [y/N] ");
    std::fflush(terminal);
    char line[64] = {};
    const bool yes =
        std::fgets(line, sizeof line, terminal) != nullptr && (line[0] == 'y' || line[0] == 'Y');
    std::fclose(terminal);
    return yes;
}

std::string selfPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    return std::string(path, static_cast<size_t>(n));
}

// The arguments of a tool's process: the user's options that hold for every tool, the
// tool's own, JSON for this process to read, and program.
std::vector<std::string> childArguments(const std::string& self, const CliOptions& options,
                                        const BatchRequest& request, const BatchTool& tool) {
    std::vector<std::string> a{self};
    auto pass = [&a](const char* name, const std::string& value) {
        if (!value.empty()) a.insert(a.end(), {name, value});
    };
    pass("--server", options.server);
    pass("--ca-file", options.caFile);
    pass("--sysfs-root", options.sysfsRoot);
    pass("--dev-root", options.devRoot);
    // Each tool's trace beside the one named: the frames of two tools never mix.
    if (!options.traceLink.empty()) pass("--trace-link", options.traceLink + "." + tool.name);
    if (options.ftpTls) a.push_back("--ftp-tls");
    if (options.yes) a.push_back("--yes");
    a.insert(a.end(), {"--json", "--batch-tool"});
    a.insert(a.end(), tool.select.begin(), tool.select.end());
    a.push_back("program");
    if (request.firmwareId != 0) pass("--firmware", std::to_string(request.firmwareId));
    return a;
}

bool startTool(BatchTool& tool, const std::vector<std::string>& arguments) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // A group of its own: Ctrl-C reaches this process alone, which passes it on.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int spawned =
        ::posix_spawn(&tool.pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
        ::close(out[0]);
        ::close(err[0]);
        tool.pid = -1;
        return false;
    }
    tool.outFd = out[0];
    tool.errFd = err[0];
    tool.state = BatchToolState::running;
    tool.started = Clock::now();
    return true;
}

// Takes what a pipe holds; false at its end.
bool drain(int& fd, std::string& pending, const std::function<void(const std::string&)>& line) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n <= 0) {
        if (!pending.empty()) line(pending);
        pending.clear();
        ::close(fd);
        fd = -1;
        return false;
    }
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        line(pending.substr(0, end));
        pending.erase(0, end + 1);
    }
    return true;
}

void readTool(BatchView& view, BatchTool& tool, int fd) {
    if (fd == tool.outFd) {
        drain(tool.outFd, tool.outPending, [&](const std::string& text) {
            const nlohmann::json event = nlohmann::json::parse(text, nullptr, false);
            if (event.is_object()) {
                BatchView_event(view, tool, event);
            } else {
                BatchView_line(view, tool, text);
            }
        });
    } else {
        drain(tool.errFd, tool.errPending,
              [&](const std::string& text) { BatchView_line(view, tool, text); });
    }
}

// A process whose pipes have both ended is waited for; its exit status settles its row.
void reapTool(BatchView& view, BatchTool& tool, std::atomic<int>& running) {
    if (tool.state != BatchToolState::running || tool.outFd >= 0 || tool.errFd >= 0) return;
    int raw = 0;
    while (::waitpid(tool.pid, &raw, 0) < 0 && errno == EINTR) {
    }
    tool.status = WIFEXITED(raw)                                ? WEXITSTATUS(raw)
                  : WIFSIGNALED(raw) && WTERMSIG(raw) == SIGINT ? kInterruptedStatus
                                                                : 1;
    if (WIFSIGNALED(raw) && WTERMSIG(raw) != SIGINT) {
        tool.outcome =
            std::string("failed: the updater ended on signal ") + strsignal(WTERMSIG(raw));
    }
    tool.seconds = std::chrono::duration<double>(Clock::now() - tool.started).count();
    --running;
    BatchView_end(view, tool);
}

}  // namespace

int BatchProgram_run(const CliOptions& options, const BatchRequest& request) {
    std::string error;
    int status = 2;
    std::vector<BatchTool> tools = planTools(options, request, &error, &status);
    if (tools.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return status;
    }
    const std::string self = selfPath();
    if (self.empty()) {
        std::fprintf(stderr, "The updater cannot find its own program to start.\n");
        return 1;
    }
    if (!askOnce(options, tools, stderr)) {
        std::fprintf(stderr, "Answer: No\n");
        return 1;
    }

    BatchView view;
    view.mode = options.json              ? BatchMode::json
                : ::isatty(STDERR_FILENO) ? BatchMode::rows
                                          : BatchMode::lines;
    const int jobs = request.jobs > 0 ? std::min<int>(request.jobs, static_cast<int>(tools.size()))
                                      : static_cast<int>(tools.size());
    BatchView_start(view, tools, jobs);

    // Ctrl-C as for one tool: the first warns while any tool runs, the second stops them
    // all, each at its next safe point; no tool starts after it.
    StopRequest stop;
    std::atomic<int> running{0};
    InterruptGuard guard(
        stop, [&running] { return running.load() > 0; }, stderr);
    int stopsSent = 0;
    Clock::time_point lastStopSent;
    auto sendStops = [&] {
        for (const BatchTool& tool : tools) {
            if (tool.state == BatchToolState::running) ::kill(tool.pid, SIGINT);
        }
        ++stopsSent;
        lastStopSent = Clock::now();
    };

    size_t next = 0;
    Clock::time_point nextStart = Clock::now();
    for (;;) {
        const bool stopped = stop.requested.load();
        // Twice, apart: a tool's process warns at the first and stops at the second.
        if (stopped && (stopsSent == 0 || (stopsSent == 1 && Clock::now() - lastStopSent >=
                                                                 request.timing.signalGap))) {
            sendStops();
        }
        while (!stopped && next < tools.size() && running.load() < jobs &&
               Clock::now() >= nextStart) {
            BatchTool& tool = tools[next++];
            if (startTool(tool, childArguments(self, options, request, tool))) {
                ++running;
            } else {
                tool.outcome = "failed: its updater process did not start";
                BatchView_end(view, tool);
            }
            nextStart = Clock::now() + request.timing.batchStagger;
        }
        if (running.load() == 0 && (next >= tools.size() || stopped)) break;

        std::vector<pollfd> fds;
        std::vector<BatchTool*> owners;
        for (BatchTool& tool : tools) {
            for (int fd : {tool.outFd, tool.errFd}) {
                if (fd < 0) continue;
                fds.push_back({fd, POLLIN, 0});
                owners.push_back(&tool);
            }
        }
        const int ready =
            ::poll(fds.data(), fds.size(), static_cast<int>(request.timing.stopPoll.count()));
        for (size_t i = 0; ready > 0 && i < fds.size(); ++i) {
            if (fds[i].revents != 0) readTool(view, *owners[i], fds[i].fd);
        }
        for (BatchTool& tool : tools) reapTool(view, tool, running);
        BatchView_draw(view, tools);
    }
    for (BatchTool& tool : tools) {
        if (tool.state == BatchToolState::waiting) {
            tool.outcome = "not started";
            BatchView_end(view, tool);
        }
    }
    return BatchView_summary(view, tools, stop.requested.load());
}

// Programs a guest case starts: the updater, the virtual tool, the bench server and the
// system's own tools (apt, udevadm, getfacl), run without a shell where the words are known.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

struct CommandRun {
    int status = -1;  // exit status; 124 when the time limit ended it, -1 when it never ran
    std::string out;  // standard output and error, as they came
    double seconds = 0;
};

// Runs `argv` to its end or to `limit`, with `environment` ("NAME=value") added to ours.
CommandRun Command_run(const std::vector<std::string>& argv, std::chrono::seconds limit,
                       const std::vector<std::string>& environment = {});
// "exit 1: " and the run's last line, cut short.
std::string CommandRun_summary(const CommandRun& run);
// A script for bash: the system's tools, where a pipe says it best.
CommandRun Shell_run(const std::string& script,
                     std::chrono::seconds limit = std::chrono::seconds(60));
// The first line of a script's output, without its end of line.
std::string Shell_line(const std::string& script);

// A program left running, its output in `log`; -1 when it could not start.
pid_t Process_start(const std::vector<std::string>& argv, const std::string& log,
                    const std::vector<std::string>& environment = {});
// Ended by SIGTERM; its exit status, or -1 when a signal ended it otherwise.
int Process_stop(pid_t pid);
bool Process_running(pid_t pid);

std::string File_read(const std::string& path);
bool File_write(const std::string& path, const std::string& text);
std::vector<std::string> Text_lines(const std::string& text);
// The last line that holds more than white space.
std::string Text_lastLine(const std::string& text);
bool Text_holds(const std::string& text, const std::string& part);
double Seconds_since(std::chrono::steady_clock::time_point start);

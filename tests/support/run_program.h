#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

struct ProgramRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs a program to its end without a shell and without a terminal (standard input is
// /dev/null), with extra environment variables, and collects what it printed. `started`,
// when given, gets the program's pid as soon as it runs (for signals).
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment = {},
                      std::atomic<int>* started = nullptr);

// zarvik-cli of this build.
std::string cliPath();

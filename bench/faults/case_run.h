// Runs zarvik-cli once against a fresh virtual tool and bench server with one fault in place.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "case_result.h"
#include "fault_case.h"
#include "toolsim/virtual_tool.h"

struct CleanRun {
    double seconds = 0;
    std::map<uint64_t, std::vector<uint8_t>> toolData;  // the tool's data memory after it
    std::vector<std::vector<uint8_t>> programs;         // and its program areas
    std::map<std::string, std::string> uploads;         // file name -> bytes
};

class CaseRunner {
  public:
    // The demo catalogue and its variants go to `dir`.
    bool prepare(const std::filesystem::path& dir, const std::string& cli, std::string* error);
    CaseResult run(const FaultCase& fault);

  private:
    struct Outcome {
        CaseResult result;
        std::map<uint64_t, std::vector<uint8_t>> before;
        std::map<uint64_t, std::vector<uint8_t>> after;
        std::vector<std::vector<uint8_t>> programs;
        int secondStatus = -1;  // of the second run's program, and what it left
        std::map<uint64_t, std::vector<uint8_t>> secondAfter;
        std::vector<std::vector<uint8_t>> secondPrograms;
        std::map<std::string, std::string> uploads;
    };
    Outcome execute(const FaultCase& fault, double killAfterSeconds);
    // The tool powered up again after a cut, then `find` and `program` of the same firmware.
    void secondRun(VirtualTool& tool, const std::string& link,
                   const std::vector<std::string>& environment, const std::filesystem::path& work,
                   Outcome& o);
    const CleanRun* cleanRun(const FaultCase& fault);

    std::filesystem::path dir_;
    std::string cli_;
    int serial_ = 0;
    std::map<std::string, CleanRun> clean_;
};

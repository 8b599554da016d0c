// What one run of zarvik-cli did: what it showed, what the server heard and what the tool
// and the server hold afterwards.
#pragma once

#include <string>

struct CaseResult {
    std::string step;     // the last progress text before the end
    std::string message;  // the message line at the end, or "box:TITLE" of the last box
    std::string tag;      // the last report tag sent, "-": none
    int status = -1;      // exit status; -1: killed or crashed
    double seconds = 0;
    double boundSeconds = 0;
    bool claimedUpdated = false;
    bool staleData = false;
    bool hung = false;
    bool sanitizer = false;  // a leak or memory fault reported
    std::string note;
    // After a cut: the tool powered up again, `find` and `program` of the same firmware.
    std::string secondFind;  // what its identification showed; empty: no second run
    bool recovered = false;  // the tool's memory then equals a clean update's, byte for byte
};

// What a link needs besides its record: where the tool is looked for and how long it waits.
#pragma once

#include <string>

#include "core/timing.h"

struct LinkTrace;
struct StopRequest;

struct LinkSettings {
    std::string port;                // explicit device path; empty: look the tool up on USB
    std::string tool;                // USB serial of the tool to use; empty: the first tool
    std::string sysfsRoot = "/sys";  // where the kernel lists the tty devices
    std::string devRoot = "/dev";    // where their device nodes live
    Timing timing;
    LinkTrace* trace = nullptr;  // the front end's frame trace; null: none
    // Once requested, no further frame is sent; null: runs are never stopped.
    const StopRequest* stop = nullptr;
};

// The explicit port a front end asks for: the option when given, else ZARVIK_PORT, else empty.
std::string LinkSettings_explicitPort(const std::string& option);
// The USB serial a front end asks for: the option when given, else ZARVIK_TOOL, else empty.
std::string LinkSettings_namedTool(const std::string& option);

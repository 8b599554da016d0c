// The bench as the guests run it: the bench server on the guest's loopback, and the virtual
// tool plugged in as a USB gadget on a dummy_hcd controller, stopped to learn what it got.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// The pauses and limits of the guests' cases, in one place.
struct GuestTiming {
    std::chrono::milliseconds serverStart{120000};  // TCG guests start slowly
    std::chrono::milliseconds enumeration{20000};   // a plugged gadget's node appears
    std::chrono::milliseconds settle{300};          // the host's side after an unplug
    std::chrono::milliseconds powerCycle{10000};    // the tool's note that it is back
};

struct BenchServer {
    pid_t pid = -1;
    std::string log;
    std::string requests;                  // one JSON line per request
    std::vector<std::string> environment;  // ZARVIK_SERVER and the rest, for the updater
};

// The catalogue written into `work` and the server started on it; false with `why`, its log
// kept. `bin` is the folder of the bench's programs.
bool BenchServer_start(BenchServer& server, const std::string& bin, const std::string& work,
                       const GuestTiming& timing, std::string* why);
void BenchServer_stop(BenchServer& server);
int BenchServer_requestCount(const BenchServer& server);
// The report tags ("_Failed_FIRM", ...) of the requests after the first `from`.
std::vector<std::string> BenchServer_reportsSince(const BenchServer& server, int from);

// zarvik-toolsim plugged in as a USB gadget: the demo tool unless `state` names another, its
// extra-file area where the demo tool keeps it, its memory written at exit when `memoryOut`.
struct ToolPlug {
    std::string bin;  // the folder of the bench's programs
    std::string state;
    std::string name = "ktx2";
    std::string udc = "dummy_udc.0";
    std::string serial = "KTX2-0001";
    std::string memoryOut;
    std::vector<std::string> faults;  // and the other options
};

std::vector<std::string> ToolPlug_command(const ToolPlug& plug);

struct PluggedTool {
    pid_t pid = -1;
    std::string serial;
    std::string log;
    std::string node;  // where the host shows it once plugged in
};

// What the virtual tool said when it was stopped.
struct ToolReport {
    int status = -1;  // its exit status: 0 when it did all it was asked
    int frames = -1;  // frames it received, -1 when it never said
    long strayBytes = -1;
    std::string stray;  // the first of them, as it showed them
};

// Starts zarvik-toolsim with `arguments` (its gadget, serial and faults) and waits for the
// host to make its node; false when it exited or never enumerated (its log says why).
bool PluggedTool_plug(PluggedTool& tool, const std::vector<std::string>& command,
                      const std::string& serial, const std::string& log, const GuestTiming& timing);
ToolReport PluggedTool_unplug(PluggedTool& tool, const GuestTiming& timing);
// Power off and on (SIGUSR1); true once the tool says it is back on the bus.
bool PluggedTool_powerCycle(PluggedTool& tool, const GuestTiming& timing);

// zarvik-toolsim: the virtual tool as a program, for the demo and for trying the command line
// against it. Runs until interrupted.
#include <CLI/CLI.hpp>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <fstream>

#include "toolsim/holding_process.h"
#include "toolsim/virtual_tool.h"

namespace {

// What an update leaves in the tool, for comparing two tools byte for byte: every program
// area, then every written page of data memory with its address.
bool writeMemory(const VirtualTool& tool, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int t = 0; t < kRawTargetCount; ++t) {
        const std::vector<uint8_t> bytes = tool.program(RawTarget(t));
        out << "program " << t << ' ' << bytes.size() << '\n';
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    for (const auto& [address, page] : tool.dataMemoryPages()) {
        out << "page " << address << ' ' << page.size() << '\n';
        out.write(reinterpret_cast<const char*>(page.data()),
                  static_cast<std::streamsize>(page.size()));
    }
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zarvik-toolsim: a virtual KTX2 tool on a pseudo-terminal"};
    std::string statePath;
    std::string linkPath;
    ToolSimOptions options;
    int rebootDelay = static_cast<int>(options.rebootDelay.count());
    std::vector<int> silent;
    std::vector<int> hi;
    std::vector<int> late;
    int lateMs = 5600;
    int refuseBlock = -1;
    bool lateRefusal = false;
    int split = 0;
    int vanishAt = -1;
    bool stayAway = false;
    int hardwareIdAfterReboot = -1;
    bool heldByOther = false;
    std::string cut, refuseAt;
    std::vector<int> half;
    std::vector<uint64_t> extraArea;
    std::string stopReading;
    int leaveLate = 0;
    bool selfRestartUnanswered = false;
    std::string memoryOut;

    app.add_option("--state", statePath, "Tool state (JSON); default: a KTX2 at bootloader 1.23")
        ->check(CLI::ExistingFile);
    auto* link = app.add_option("--link", linkPath, "Path at which the tool's device appears");
    auto* gadget = app.add_option("--gadget", options.gadget.name,
                                  "Be a real USB device: a configfs gadget of this name");
    link->excludes(gadget);
    app.add_option("--udc", options.gadget.udc, "The gadget's UDC (default dummy_udc.0)")
        ->needs(gadget);
    app.add_option("--acm-functions", options.gadget.acmFunctions,
                   "ACM functions the gadget offers; the tool serves the first")
        ->needs(gadget)
        ->check(CLI::Range(1, 4));
    app.add_option("--serial-after-reboot", options.serialAfterReboot,
                   "The gadget's USB serial from the first reboot on")
        ->needs(gadget);
    app.add_option("--stop-reading-at", stopReading, "Stop reading the line at PHASE:start|last|N");
    app.add_option("--leave-late", leaveLate,
                   "Milliseconds on the bus after a reboot command before leaving");
    app.add_flag("--self-restart-unanswered", selfRestartUnanswered,
                 "A self-restarting bootloader leaves before answering its last record");
    app.add_option("--memory-out", memoryOut,
                   "On exit, write what the tool's memory holds to this file");
    app.add_flag("--pace", options.pacing, "Run the line at 256000 bit/s");
    app.add_option("--reboot-delay", rebootDelay, "Milliseconds off the bus after a reboot");
    app.add_option("--silent", silent, "Never answer this command");
    app.add_option("--hi", hi, "Answer \"HI\" to this command");
    app.add_option("--late", late, "Answer this command late once, then the next ones in order");
    app.add_option("--late-ms", lateMs, "How late, in milliseconds (default 5600)");
    app.add_option("--refuse-block", refuseBlock, "Refuse the Nth written block (0: the first)");
    app.add_flag("--late-refusal", lateRefusal, "Refuse with a late \"E\" after \"O\"");
    app.add_option("--split", split, "Send replies in pieces of this many bytes");
    app.add_option("--vanish-at-block", vanishAt, "Leave the bus for good at the Nth block");
    app.add_option("--cut", cut, "Leave the bus for good at PHASE:start|last|N (see tool_phase.h)");
    app.add_option("--refuse-at", refuseAt, "Answer \"E\" at PHASE:start|last|N");
    app.add_option("--half", half, "Send half the answer to this command, then nothing");
    app.add_option("--extra-area", extraArea, "Extra-file area in data memory: ADDRESS SIZE")
        ->expected(2);
    app.add_flag("--stay-away", stayAway, "Never come back after a reboot");
    app.add_option("--hardware-id-after-reboot", hardwareIdAfterReboot,
                   "Report this hardware id after the next reboot");
    app.add_option("--fake-sysfs", options.fakeSysfsRoot,
                   "Show the tool as a USB device in a fake sysfs tree here (DIR/sys, DIR/dev)");
    app.add_option("--usb-serial", options.usbSerial, "USB serial shown in the fake sysfs tree");
    app.add_flag("--reenumerate", options.reenumerate,
                 "Come back from each reboot under a new device node");
    app.add_flag("--held-by-other", heldByOther,
                 "Another process (named ModemManager) holds the device locked");
    CLI11_PARSE(app, argc, argv);
    options.rebootDelay = std::chrono::milliseconds(rebootDelay);
    if (linkPath.empty() && options.gadget.name.empty()) {
        std::fprintf(stderr, "zarvik-toolsim: --link or --gadget is required\n");
        return 2;
    }
    if (!options.gadget.name.empty()) {
        if (options.gadget.udc.empty()) options.gadget.udc = "dummy_udc.0";
        options.gadget.serial = options.usbSerial;
    }
    if (extraArea.size() == 2) options.extraArea = {extraArea[0], extraArea[1]};
    std::optional<CutPoint> cutPoint, refusePoint, stopPoint;
    for (auto [text, point] : {std::pair{&cut, &cutPoint}, std::pair{&refuseAt, &refusePoint},
                               std::pair{&stopReading, &stopPoint}}) {
        if (text->empty()) continue;
        *point = CutPoint_parse(*text);
        if (!*point) {
            std::fprintf(stderr, "zarvik-toolsim: no such point: %s\n", text->c_str());
            return 2;
        }
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);                   // power off and on again
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // the tool's thread inherits the mask

    VirtualTool tool;
    std::string error;
    bool started = statePath.empty() ? tool.start(ToolState_default(), linkPath, options, &error)
                                     : tool.start(statePath, linkPath, options, &error);
    if (!started) {
        std::fprintf(stderr, "zarvik-toolsim: %s\n", error.c_str());
        return 1;
    }
    for (int c : silent) tool.silenceCommand(c);
    for (int c : hi) tool.answerHi(c);
    for (int c : late) tool.answerLate(c, std::chrono::milliseconds(lateMs));
    if (refuseBlock >= 0) {
        tool.refuseBlock(refuseBlock, lateRefusal ? RefusalStyle::Late : RefusalStyle::Immediate);
    }
    if (split > 0) tool.splitReplies(split);
    if (cutPoint) tool.cutAt(*cutPoint);
    if (refusePoint) tool.refuseAt(*refusePoint);
    if (stopPoint) tool.stopReadingAt(*stopPoint);
    if (leaveLate > 0) tool.leaveLateOnReboot(std::chrono::milliseconds(leaveLate));
    tool.selfRestartUnanswered(selfRestartUnanswered);
    for (int c : half) tool.answerHalf(c);
    if (vanishAt >= 0) tool.vanishAtBlock(vanishAt);
    tool.stayAwayAfterReboot(stayAway);
    if (hardwareIdAfterReboot >= 0) tool.changeHardwareIdAfterReboot(hardwareIdAfterReboot);

    HoldingProcess holder;
    if (heldByOther && !holder.hold(tool.devicePath(), "ModemManager", &error)) {
        std::fprintf(stderr, "zarvik-toolsim: %s\n", error.c_str());
        return 1;
    }
    if (!options.gadget.name.empty()) {
        std::printf("zarvik-toolsim: USB gadget %s on %s, serving %s\n",
                    options.gadget.name.c_str(), options.gadget.udc.c_str(),
                    tool.devicePath().c_str());
    } else {
        std::printf("zarvik-toolsim: %s -> %s\n", linkPath.c_str(), tool.devicePath().c_str());
    }
    if (!options.fakeSysfsRoot.empty()) {
        std::printf("zarvik-toolsim: USB device %s, node %s\n", tool.usbPortPath().c_str(),
                    tool.sysfsNode().c_str());
    }
    if (heldByOther) std::printf("zarvik-toolsim: held by ModemManager (pid %d)\n", holder.pid());
    std::fflush(stdout);
    int received = 0;
    while (sigwait(&signals, &received) == 0 && received == SIGUSR1) {
        const bool back = tool.powerCycle();
        std::printf("zarvik-toolsim: power cycle: %s\n", back ? "back on the bus" : "stays dark");
        std::fflush(stdout);
    }
    tool.stop();
    // A case judges the tool by what it reports: a tool that could not do as asked says so
    // in its exit status, not only in its log.
    int status = 0;
    if (!memoryOut.empty() && !writeMemory(tool, memoryOut)) {
        std::fprintf(stderr, "zarvik-toolsim: could not write %s\n", memoryOut.c_str());
        status = 1;
    }
    if (const std::string failure = tool.failure(); !failure.empty()) {
        std::fprintf(stderr, "zarvik-toolsim: %s\n", failure.c_str());
        status = 1;
    }
    // What a case needs to tell whether this tool was spoken to at all.
    size_t strayCount = 0;
    std::string stray;
    for (uint8_t b : tool.strayBytes(&strayCount)) {
        char text[8];
        std::snprintf(text, sizeof text, std::isprint(b) ? "%c" : "\\x%02x", b);
        stray += text;
    }
    std::printf("zarvik-toolsim: %zu frames received, %d reboots, %zu stray bytes \"%s\"\n",
                tool.frames().size(), tool.rebootCount(), strayCount, stray.c_str());
    return status;
}

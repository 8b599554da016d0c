// zarvik-toolsim: the virtual tool as a program, for the demo and for trying the command line
// against it. Runs until interrupted.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>

#include "toolsim/holding_process.h"
#include "toolsim/virtual_tool.h"

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

    app.add_option("--state", statePath, "Tool state (JSON); default: a KTX2 at bootloader 1.23")
        ->check(CLI::ExistingFile);
    app.add_option("--link", linkPath, "Path at which the tool's device appears")->required();
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
    if (extraArea.size() == 2) options.extraArea = {extraArea[0], extraArea[1]};
    std::optional<CutPoint> cutPoint, refusePoint;
    for (auto [text, point] : {std::pair{&cut, &cutPoint}, std::pair{&refuseAt, &refusePoint}}) {
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
    for (int c : half) tool.answerHalf(c);
    if (vanishAt >= 0) tool.vanishAtBlock(vanishAt);
    tool.stayAwayAfterReboot(stayAway);
    if (hardwareIdAfterReboot >= 0) tool.changeHardwareIdAfterReboot(hardwareIdAfterReboot);

    HoldingProcess holder;
    if (heldByOther && !holder.hold(tool.devicePath(), "ModemManager", &error)) {
        std::fprintf(stderr, "zarvik-toolsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("zarvik-toolsim: %s -> %s\n", linkPath.c_str(), tool.devicePath().c_str());
    if (!options.fakeSysfsRoot.empty()) {
        std::printf("zarvik-toolsim: USB device %s, node %s\n", tool.usbPortPath().c_str(),
                    tool.sysfsNode().c_str());
    }
    if (heldByOther) std::printf("zarvik-toolsim: held by ModemManager (pid %d)\n", holder.pid());
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    tool.stop();
    return 0;
}

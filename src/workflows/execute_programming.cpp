// The firmware update run: the same-tool check, the package, the bootloaders with their
// run-mode state machine and the firmware; the memories, the extra files, the Bluetooth
// module and the completion follow in their own files.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "core/byte_string.h"
#include "core/stop_request.h"
#include "link/tool_commands.h"
#include "server/server_request.h"
#include "workflows/app_delegate.h"
#include "workflows/bootloader_resources.h"
#include "workflows/message_text.h"
#include "workflows/programming_run.h"
#include "workflows/time_remaining.h"

namespace {

constexpr int32_t kResourceThreshold = 118;  // bootloaders on either side need a bridge
constexpr int32_t kSelfRestart = 121;        // above this a bootloader restarts by itself

bool differentSides(int32_t a, int32_t b) {
    return (a >= kResourceThreshold) != (b >= kResourceThreshold);
}

// Bootloaders above 1.21 restart by themselves once their image is in: no reboot command.
bool selfRestarts(const ToolLink* link, int32_t bootVersionNumber) {
    return link->serialState == kSerialOpened && link->transportKind == kTransportSerial &&
           bootVersionNumber > kSelfRestart;
}

}  // namespace

void AppDelegate::executeProgramming() {
    HistoryScope history(*this, "program");
    if (checkSameTool() != ToolCheck::same) return;
    ToolLink_close(link());

    ui_.disableButton(Control::Find);
    ui_.disableButton(Control::Program);
    ui_.disableButton(Control::ProgramMemories);

    ProgrammingRun run;
    run.firmwareId = static_cast<uint32_t>(getFirmwareId());
    run.firmwareName = getFirmwareName();
    say("Downloading Newest Firmware");
    {
        ByteStringPtr bytes(ServerRequest_downloadFirmware(&session_, run.firmwareId));
        if (bytes == nullptr || bytes->length == 0) {
            tell("Download Failed",
                 "Please ensure your computer is connected to internet\nTry again or contact us");
            offerFindAgain();
            return;
        }
        run.package.reset(FirmwarePackage_new());
        PackageLoadFailure failure = PackageLoadFailure::none;
        if (!FirmwarePackage_load(PACKAGE_IMAGE, run.package.get(), bytes.get(), 1, &failure)) {
            if (failure == PackageLoadFailure::tooLarge) {
                tell("Error", "The firmware package is too large (over " +
                                  std::to_string(kPackageDataLimit >> 20) +
                                  " MiB of data)\nPlease contact us");
            } else {
                tell("Error", "Your updater is out of date");
            }
            offerFindAgain();
            return;
        }
    }
    ui_.hideControl(Control::ProgramMemories);
    run.package->firmwareId = static_cast<int32_t>(run.firmwareId);

    // A tool that is gone now makes the first exchange fail. A node that is not the tool's
    // (another device on its old number) is never opened.
    if (ToolLink_findPort(link())) ToolLink_open(link());
    run.blockSize = link()->serialState == kSerialOpened ? 384 : 192;

    if (!programBootloaders(run) || !programFirmware(run) || !programMemoryFiles(run) ||
        !programExtraFilesPhase(run) || !updateBluetoothModule(run)) {
        offerFindAgain();
        return;
    }
    completeProgramming(run);
}

bool AppDelegate::rebootAndReconnect(int32_t bootVersionNumber) {
    ToolLink* toolLink = link();
    int rebooted = selfRestarts(toolLink, bootVersionNumber) ? 1 : Tool_reboot(toolLink);
    ToolLink_markNotOpen(toolLink);
    const Timing& timing = linkSettings_.timing;
    const auto start = std::chrono::steady_clock::now();
    const auto firstLook = start + timing.rebootWait;
    const auto lastLook = firstLook + timing.rebootRetryWait;
    // A tool still on the bus under its old node would be found there and lost again in the
    // middle of the next exchange: a tool that restarts is looked for once it has left.
    if (rebooted == 1) ToolLink_waitForDeparture(toolLink, lastLook);
    // A stop asked for meanwhile ends the wait; the tool is still looked for, so that the
    // link ends closed rather than lost.
    auto sleepUntil = [&](std::chrono::steady_clock::time_point until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() > 0) StopRequest_sleep(linkSettings_.stop, left, timing.stopPoll);
    };
    sleepUntil(firstLook);
    // Looked for until it is back and open: a node not there yet, or not yet given to the
    // user, costs no try. Only a node that is the tool's is opened: the old number may be
    // another device's by now.
    for (;;) {
        if (ToolLink_findPort(toolLink)) ToolLink_open(toolLink);
        const auto now = std::chrono::steady_clock::now();
        if (toolLink->open || stopRequested() || now >= lastLook) break;
        sleepUntil(std::min(now + timing.reconnectWait, lastLook));
    }
    return rebooted == 1;
}

bool AppDelegate::programBootloaders(ProgrammingRun& run) {
    FirmwarePackage* package = run.package.get();
    const int32_t packageVersion = package->bootVersionNumber;
    int lastReboot = -1;  // none yet
    int failedSlot = 1;
    bool lost = false;

    for (int i = 0; i < 2 && !lost;) {
        PackageBoot* boot = package->boot[i];
        if (boot == nullptr) {
            ++i;
            continue;
        }
        run.runMode = Tool_readRunMode(link());
        int n = i;
        bool forced = false;
        if (run.runMode == 1) {
            const int32_t toolVersion = tool_->bootVersionNumber;
            if (differentSides(toolVersion, packageVersion) && toolVersion >= kResourceThreshold) {
                run.substitute[1] = true;
                n = 1;
                forced = true;
            } else if (differentSides(toolVersion, packageVersion)) {
                run.substitute[0] = true;
            } else if (toolVersion >= packageVersion) {
                break;  // the tool is already there
            }
        }
        const bool write = forced || run.substitute[1] || run.runMode != i;
        if (write) {
            run.attempts = 0;
            // A slot that takes a resource image takes it on every attempt: a retry must not
            // bring the package's own image to the tool that the resource is there to bridge.
            ByteStringPtr resource;
            while (run.attempts <= 3 && (run.runMode != n || run.substitute[1]) &&
                   !stopRequested()) {
                say(fillText("Writing Bootloader %d", {std::to_string(n)}));
                if (run.substitute[1]) {
                    resource.reset(BootloaderResource_load("Enc_QNv3HIDBootloader_1"));
                }
                if (run.substitute[0]) {
                    resource.reset(BootloaderResource_load("Enc_QNv3HIDBootloader_0"));
                }
                // The image written is always slot i's, also when n was forced to 1.
                const ByteString* image = resource != nullptr ? resource.get()
                                          : boot->section     ? boot->section->data
                                                              : nullptr;
                // An empty image (no resource shipped, an empty slot) fails on purpose:
                // writing nothing reports success, and would count as a bootloader written.
                // A tool that restarts by itself may leave before it acknowledges the last
                // record: that is the image taking effect, not a write cut short.
                const ImageEnd end = selfRestarts(link(), tool_->bootVersionNumber)
                                         ? ImageEnd::ToolMayLeave
                                         : ImageEnd::Acknowledged;
                const int written = image != nullptr && image->length > 0 &&
                                    Tool_writeImage(link(), image, run.blockSize, 1, 0, 0, 0, 0, 0,
                                                    linkProgress(), end);
                say("Rebooting Device");
                if (written) run.substitute[0] = run.substitute[1] = false;
                setProgress(-1);
                const bool rebooted = rebootAndReconnect(tool_->bootVersionNumber);
                // Whoever answers under the followed serial or socket is checked before
                // anything more is sent: a neighbour with the same USB serial must not get
                // the rest of the update. One that does not answer counts as not back.
                const ToolCheck check = link()->open ? checkAttachedTool() : ToolCheck::gone;
                if (check == ToolCheck::switched) {
                    noteUnfinishedStep("bootloader " + std::to_string(n));
                    setProgress(0);
                    return false;
                }
                if (check == ToolCheck::gone) {
                    run.attempts = 4;
                } else {
                    run.runMode = Tool_readRunMode(link());
                    ++run.attempts;
                }
                if (rebooted) tool_->bootVersionNumber = packageVersion;
                setProgress(0);
                lastReboot = rebooted ? 1 : 0;
            }
        }
        if (lastReboot >= 0) run.ok = lastReboot == 1;
        if (!link()->open) {
            lost = true;
            failedSlot = n;
        }
        i = n + 1;
    }

    if (!lost && run.ok && run.runMode == 1 && !stopRequested()) return true;
    failRun(run, fillText("Writing Bootloader %d Failed", {std::to_string(failedSlot)}),
            "_Failed_BL" + std::to_string(failedSlot), false);
    return false;
}

bool AppDelegate::programFirmware(ProgrammingRun& run) {
    const PackageFirmware* firmware = run.package->firmware;
    if (firmware == nullptr) return true;
    const std::string version = ByteString_str(firmware->name);
    say(fillText("Writing Firmware %s", {version}));
    const ByteString* image = firmware->section ? firmware->section->data : nullptr;
    // As for a bootloader, an empty image is a failed write, never a firmware written.
    // The firmware is the long write: the user is told how long it still needs.
    TimeRemaining estimate;
    ProgressFn progress = [this, &estimate](int percent) {
        TimeRemaining_update(&estimate, percent, TimeRemaining::Clock::now());
        ui_.setTimeRemaining(TimeRemaining_seconds(&estimate));
        setProgress(percent);
    };
    const bool written = image != nullptr && image->length > 0 &&
                         Tool_writeImage(link(), image, run.blockSize, 1, 0, 0, 0, 0, 0, progress);
    ui_.setTimeRemaining(-1);
    if (written) return true;
    failRun(run, fillText("Writing Firmware V%s Failed", {version}), "_Failed_FIRM", true);
    return false;
}

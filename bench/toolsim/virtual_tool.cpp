// The virtual tool's start and stop, and what callers set and see of it. Its answers are in
// tool_answers.cpp, the serving of its line in line_service.cpp (the line itself, a
// pseudo-terminal or a USB gadget, behind tool_line.h), its reboots and power cycles in
// reboot_and_power.cpp.
#include "toolsim/virtual_tool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/tool_protocol.h"

bool VirtualTool::start(const std::string& statePath, const std::string& linkPath,
                        const ToolSimOptions& options, std::string* error) {
    std::optional<ToolState> state = ToolState_load(statePath, error);
    return state && start(*state, linkPath, options, error);
}

bool VirtualTool::start(const ToolState& state, const std::string& linkPath,
                        const ToolSimOptions& options, std::string* error) {
    stop();
    options_ = options;
    {
        std::lock_guard lock(mutex_);
        bootLetter_ = state.bootLetter;
        slotVersions_ = state.bootSlotVersions;
        runMode_ = state.runMode;
        activeSlot_ = state.runMode == 0 ? 0 : 1;
        optionCode_ = state.optionCode;
        bluetoothVersion_ = state.bluetoothVersion;
        inBootloader_ = rawTransferOpen_ = bluetoothUpdate_ = false;
        lastSector_ = kNoSector;
        completedSlot_.reset();
        programMemory_.clear();
        programMemory_.write(tool::kIdentityAddress, state.identity);
        programMemory_.write(tool::kConfigurationAddress, state.configuration);
        dataMemory_.clear();
        ToolState_fillDataMemory(state, dataMemory_);
        for (auto& p : programs_) p.clear();
        records_.clear();
        frames_.clear();
        refused_ = reboots_ = 0;
        blocksSeen_ = 0;
        phaseFrames_.clear();
        faults_ = Faults{};
        generation_ = 0;
        reenumerate_ = options.reenumerate;
    }
    deaf_ = false;
    line_ = options.gadget.name.empty()
                ? ToolLine_pseudoTerminal(linkPath, options.fakeSysfsRoot, options.usbSerial,
                                          options.serialAfterReboot, error)
                : ToolLine_usbGadget(options.gadget, options.serialAfterReboot, error);
    if (!line_) return false;
    {
        std::lock_guard lock(mutex_);
        usbPortPath_ = line_->usbPortPath();
    }
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error) *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    goneForGood_ = false;
    input_.clear();
    if (!bringOnline(error)) {
        stop();
        return false;
    }
    stopping_ = false;
    thread_ = std::thread(&VirtualTool::run, this);
    return true;
}

void VirtualTool::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
    line_.reset();
    if (wakeRead_ >= 0) ::close(wakeRead_);
    if (wakeWrite_ >= 0) ::close(wakeWrite_);
    wakeRead_ = wakeWrite_ = -1;
    std::lock_guard lock(mutex_);
    online_ = false;
    sysfsNode_.clear();
    usbPortPath_.clear();
    changed_.notify_all();
}

// Observations and faults, for the callers.

bool VirtualTool::online() const {
    std::lock_guard lock(mutex_);
    return online_;
}

int VirtualTool::generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

bool VirtualTool::waitForGeneration(int generation, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return online_ && generation_ >= generation; });
}

std::string VirtualTool::devicePath() const {
    std::lock_guard lock(mutex_);
    return devicePath_;
}

std::string VirtualTool::sysfsNode() const {
    std::lock_guard lock(mutex_);
    return sysfsNode_;
}

std::string VirtualTool::usbPortPath() const {
    std::lock_guard lock(mutex_);
    return usbPortPath_;
}

void VirtualTool::reenumerateOnReboot(bool reenumerate) {
    std::lock_guard lock(mutex_);
    reenumerate_ = reenumerate;
}

void VirtualTool::silenceCommand(int command, int times, int after) {
    std::lock_guard lock(mutex_);
    faults_.silent[command] = CommandFault{after, times};
}

void VirtualTool::answerHi(int command, int times, int after) {
    std::lock_guard lock(mutex_);
    faults_.hi[command] = CommandFault{after, times};
}

void VirtualTool::answerLate(int command, std::chrono::milliseconds delay, int times, int after) {
    std::lock_guard lock(mutex_);
    faults_.late[command] = CommandFault{after, times};
    faults_.lateDelay = delay;
}

void VirtualTool::refuseBlock(int index, RefusalStyle style) {
    std::lock_guard lock(mutex_);
    faults_.refuseAt = blocksSeen_ + index;
    faults_.refusalStyle = style;
}

void VirtualTool::splitReplies(int pieceSize) {
    std::lock_guard lock(mutex_);
    faults_.pieceSize = pieceSize;
}

void VirtualTool::vanishAtBlock(int index) {
    std::lock_guard lock(mutex_);
    faults_.vanishAt = blocksSeen_ + index;
}

void VirtualTool::cutAt(const CutPoint& point) {
    std::lock_guard lock(mutex_);
    faults_.cutAt = point;
}

void VirtualTool::refuseAt(const CutPoint& point) {
    std::lock_guard lock(mutex_);
    faults_.refuseAtPoint = point;
}

void VirtualTool::answerHalf(int command, int times, int after) {
    std::lock_guard lock(mutex_);
    faults_.half[command] = CommandFault{after, times};
}

void VirtualTool::stayAwayAfterReboot(bool stayAway) {
    std::lock_guard lock(mutex_);
    faults_.stayAway = stayAway;
}

void VirtualTool::leaveLateOnReboot(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    faults_.leaveDelay = delay;
}

void VirtualTool::stopReadingAt(const CutPoint& point) {
    std::lock_guard lock(mutex_);
    faults_.stopReadingAt = point;
}

void VirtualTool::selfRestartUnanswered(bool unanswered) {
    std::lock_guard lock(mutex_);
    faults_.selfRestartUnanswered = unanswered;
}

void VirtualTool::changeHardwareIdAfterReboot(int hardwareId) {
    std::lock_guard lock(mutex_);
    faults_.hardwareIdAfterReboot = hardwareId;
}

void VirtualTool::clearFaults() {
    std::lock_guard lock(mutex_);
    faults_ = Faults{};
}

std::vector<std::vector<uint8_t>> VirtualTool::frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::vector<uint8_t> VirtualTool::strayBytes(size_t* count) const {
    std::lock_guard lock(mutex_);
    *count = strayCount_;
    return strayShown_;
}

void VirtualTool::clearFrames() {
    std::lock_guard lock(mutex_);
    frames_.clear();
}

int VirtualTool::refusedFrames() const {
    std::lock_guard lock(mutex_);
    return refused_;
}

int VirtualTool::rebootCount() const {
    std::lock_guard lock(mutex_);
    return reboots_;
}

std::string VirtualTool::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

int VirtualTool::runMode() const {
    std::lock_guard lock(mutex_);
    return runMode_;
}

std::string VirtualTool::bootVersion() const {
    std::lock_guard lock(mutex_);
    return slotVersions_[static_cast<size_t>(activeSlot_)];
}

int VirtualTool::bluetoothVersion() const {
    std::lock_guard lock(mutex_);
    return bluetoothVersion_;
}

bool VirtualTool::inBootloader() const {
    std::lock_guard lock(mutex_);
    return inBootloader_;
}

std::vector<uint8_t> VirtualTool::dataMemory(uint64_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    return dataMemory_.read(address, length);
}

std::map<uint64_t, std::vector<uint8_t>> VirtualTool::dataMemoryPages() const {
    std::lock_guard lock(mutex_);
    return dataMemory_.pages();
}

std::vector<uint8_t> VirtualTool::programMemory(uint64_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    return programMemory_.read(address, length);
}

std::vector<uint8_t> VirtualTool::program(RawTarget target) const {
    std::lock_guard lock(mutex_);
    return programs_[static_cast<size_t>(target)];
}

std::vector<StoredRecord> VirtualTool::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

void VirtualTool::writeDataMemory(uint64_t address, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    dataMemory_.write(address, bytes);
}

// The virtual tool's start and stop, and what callers set and see of its parts. The serving
// of its line, its leaving and its return are in line_service.cpp.
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
        ToolAnswers_load(answers_, state);
        ToolMemory_load(memory_, state);
        power_ = ToolPower{};
        power_.reenumerate = options.reenumerate;
    }
    deaf_ = false;
    line_ = options.gadget.name.empty()
                ? ToolLine_pseudoTerminal(linkPath, options.fakeSysfsRoot, options.usbSerial,
                                          options.serialAfterReboot, error)
                : ToolLine_usbGadget(options.gadget, options.serialAfterReboot, error);
    if (!line_) return false;
    {
        std::lock_guard lock(mutex_);
        power_.usbPortPath = line_->usbPortPath();
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
    power_.online = false;
    power_.sysfsNode.clear();
    power_.usbPortPath.clear();
    changed_.notify_all();
}

// Observations and faults, for the callers.

bool VirtualTool::online() const {
    std::lock_guard lock(mutex_);
    return power_.online;
}

int VirtualTool::generation() const {
    std::lock_guard lock(mutex_);
    return power_.generation;
}

bool VirtualTool::waitForGeneration(int generation, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit,
                             [&] { return power_.online && power_.generation >= generation; });
}

std::string VirtualTool::devicePath() const {
    std::lock_guard lock(mutex_);
    return power_.devicePath;
}

std::string VirtualTool::sysfsNode() const {
    std::lock_guard lock(mutex_);
    return power_.sysfsNode;
}

std::string VirtualTool::usbPortPath() const {
    std::lock_guard lock(mutex_);
    return power_.usbPortPath;
}

void VirtualTool::reenumerateOnReboot(bool reenumerate) {
    std::lock_guard lock(mutex_);
    power_.reenumerate = reenumerate;
}

void VirtualTool::silenceCommand(int command, int times, int after) {
    std::lock_guard lock(mutex_);
    answers_.faults.silent[command] = CommandFault{after, times};
}

void VirtualTool::answerHi(int command, int times, int after) {
    std::lock_guard lock(mutex_);
    answers_.faults.hi[command] = CommandFault{after, times};
}

void VirtualTool::answerLate(int command, std::chrono::milliseconds delay, int times, int after) {
    std::lock_guard lock(mutex_);
    answers_.faults.late[command] = CommandFault{after, times};
    answers_.faults.lateDelay = delay;
}

void VirtualTool::refuseBlock(int index, RefusalStyle style) {
    std::lock_guard lock(mutex_);
    answers_.faults.refuseAt = answers_.blocksSeen + index;
    answers_.faults.refusalStyle = style;
}

void VirtualTool::splitReplies(int pieceSize) {
    std::lock_guard lock(mutex_);
    answers_.faults.pieceSize = pieceSize;
}

void VirtualTool::vanishAtBlock(int index) {
    std::lock_guard lock(mutex_);
    answers_.faults.vanishAt = answers_.blocksSeen + index;
}

void VirtualTool::cutAt(const CutPoint& point) {
    std::lock_guard lock(mutex_);
    answers_.faults.cutAt = point;
}

void VirtualTool::refuseAt(const CutPoint& point) {
    std::lock_guard lock(mutex_);
    answers_.faults.refuseAtPoint = point;
}

void VirtualTool::answerHalf(int command, int times, int after) {
    std::lock_guard lock(mutex_);
    answers_.faults.half[command] = CommandFault{after, times};
}

void VirtualTool::stayAwayAfterReboot(bool stayAway) {
    std::lock_guard lock(mutex_);
    answers_.faults.stayAway = stayAway;
}

void VirtualTool::leaveLateOnReboot(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    answers_.faults.leaveDelay = delay;
}

void VirtualTool::stopReadingAt(const CutPoint& point) {
    std::lock_guard lock(mutex_);
    answers_.faults.stopReadingAt = point;
}

void VirtualTool::selfRestartUnanswered(bool unanswered) {
    std::lock_guard lock(mutex_);
    answers_.faults.selfRestartUnanswered = unanswered;
}

void VirtualTool::changeHardwareIdAfterReboot(int hardwareId) {
    std::lock_guard lock(mutex_);
    answers_.faults.hardwareIdAfterReboot = hardwareId;
}

void VirtualTool::clearFaults() {
    std::lock_guard lock(mutex_);
    answers_.faults = ToolFaults{};
}

std::vector<std::vector<uint8_t>> VirtualTool::frames() const {
    std::lock_guard lock(mutex_);
    return answers_.frames;
}

std::vector<uint8_t> VirtualTool::strayBytes(size_t* count) const {
    std::lock_guard lock(mutex_);
    *count = answers_.strayCount;
    return answers_.strayShown;
}

void VirtualTool::clearFrames() {
    std::lock_guard lock(mutex_);
    answers_.frames.clear();
}

int VirtualTool::refusedFrames() const {
    std::lock_guard lock(mutex_);
    return answers_.refused;
}

int VirtualTool::rebootCount() const {
    std::lock_guard lock(mutex_);
    return power_.reboots;
}

std::string VirtualTool::failure() const {
    std::lock_guard lock(mutex_);
    return power_.failure;
}

int VirtualTool::runMode() const {
    std::lock_guard lock(mutex_);
    return answers_.runMode;
}

std::string VirtualTool::bootVersion() const {
    std::lock_guard lock(mutex_);
    return answers_.slotVersions[static_cast<size_t>(answers_.activeSlot)];
}

int VirtualTool::bluetoothVersion() const {
    std::lock_guard lock(mutex_);
    return answers_.bluetoothVersion;
}

bool VirtualTool::inBootloader() const {
    std::lock_guard lock(mutex_);
    return answers_.inBootloader;
}

std::vector<uint8_t> VirtualTool::dataMemory(uint64_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    return memory_.data.read(address, length);
}

std::map<uint64_t, std::vector<uint8_t>> VirtualTool::dataMemoryPages() const {
    std::lock_guard lock(mutex_);
    return memory_.data.pages();
}

std::vector<uint8_t> VirtualTool::programMemory(uint64_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    return memory_.program.read(address, length);
}

std::vector<uint8_t> VirtualTool::program(RawTarget target) const {
    std::lock_guard lock(mutex_);
    return memory_.programs[static_cast<size_t>(target)];
}

std::vector<StoredRecord> VirtualTool::records() const {
    std::lock_guard lock(mutex_);
    return memory_.records;
}

void VirtualTool::writeDataMemory(uint64_t address, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    memory_.data.write(address, bytes);
}

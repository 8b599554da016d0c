// The virtual tool's reboots (off the bus for the reboot delay, then back with the bootloader
// it completed) and its power cycle after a cut, as the protocol implies:
// - memory keeps exactly what was written before the cut: a data area cut mid-write is part
//   new, part old; an erased area reads erased; a program area (bootloader, firmware,
//   module) holds the records that arrived, over what it held before;
// - a bootloader whose image was cut short does not start: the tool starts the one completed
//   since its last start, else the one it ran, else the other; with neither complete it
//   stays dark (no later run can reach it);
// - identity reads return the identity block at the head of the firmware area as it now
//   stands, and the firmware id the data memory holds, whatever they are;
// - a Bluetooth module whose image was cut short reports version 255.
#include "link/tool_protocol.h"
#include "toolsim/virtual_tool.h"

void VirtualTool::goOffline(bool forGood) {
    {
        // Off the bus before the host can notice the hang-up.
        std::lock_guard lock(mutex_);
        online_ = false;
        devicePath_.clear();
        sysfsNode_.clear();
    }
    line_->leave();
    input_.clear();
    deaf_ = false;
    std::lock_guard lock(mutex_);
    if (forGood) {
        goneForGood_ = true;
    } else {
        ++reboots_;
        restartState();
        goneForGood_ = faults_.stayAway;
        returnAt_ = std::chrono::steady_clock::now() + options_.rebootDelay;
    }
    changed_.notify_all();
}

void VirtualTool::restartState() {
    if (completedSlot_) {
        const int slot = *completedSlot_;
        activeSlot_ = slot;
        runMode_ = slot;
        const std::vector<uint8_t>& program = programs_[static_cast<size_t>(slot)];
        if (program.size() >= 4) {
            std::string text(program.begin(), program.begin() + 4);
            if (ToolState_versionNumber(text) >= 0) slotVersions_[static_cast<size_t>(slot)] = text;
        }
        completedSlot_.reset();
    }
    rawTransferOpen_ = bluetoothUpdate_ = inBootloader_ = false;
    lastSector_ = kNoSector;
    if (faults_.hardwareIdAfterReboot) {
        const int id = *faults_.hardwareIdAfterReboot;
        const uint8_t bytes[2] = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
        programMemory_.write(tool::kConfigurationAddress + 30, bytes);
    }
}

bool VirtualTool::powerUpState() {
    int slot = completedSlot_ ? *completedSlot_ : activeSlot_;
    if (partial_[static_cast<size_t>(slot)]) slot = 1 - slot;
    if (partial_[static_cast<size_t>(slot)]) return false;
    completedSlot_ = slot;

    const std::vector<uint8_t>& firmware = programs_[static_cast<size_t>(RawTarget::Firmware)];
    if (firmware.size() >= static_cast<size_t>(kIdentityBlockSize)) {
        programMemory_.write(tool::kIdentityAddress,
                             std::span<const uint8_t>(firmware.data(), kIdentityBlockSize));
    }
    if (partial_[static_cast<size_t>(RawTarget::BluetoothModule)]) bluetoothVersion_ = 255;
    faults_.cutAt.reset();
    faults_.vanishAt.reset();
    restartState();
    return true;
}

bool VirtualTool::takePowerUp() {
    std::lock_guard lock(mutex_);
    if (!powerUpAsked_) return false;
    powerUpAsked_ = false;
    if (!powerUpState()) return false;
    goneForGood_ = false;
    returnAt_ = std::chrono::steady_clock::now();
    return true;
}

bool VirtualTool::powerCycle(std::chrono::milliseconds limit) {
    int next = 0;
    {
        std::lock_guard lock(mutex_);
        if (online_) return true;
        powerUpAsked_ = true;
        next = generation_ + 1;
    }
    wake();
    return waitForGeneration(next, limit);
}

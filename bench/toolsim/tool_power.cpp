#include "toolsim/tool_power.h"

#include "link/tool_protocol.h"
#include "toolsim/tool_state.h"

void ToolPower_restart(ToolAnswers& answers, ToolMemory& memory) {
    if (answers.completedSlot) {
        const int slot = *answers.completedSlot;
        answers.activeSlot = slot;
        answers.runMode = slot;
        const std::vector<uint8_t>& program = memory.programs[static_cast<size_t>(slot)];
        if (program.size() >= 4) {
            std::string text(program.begin(), program.begin() + 4);
            if (ToolState_versionNumber(text) >= 0) {
                answers.slotVersions[static_cast<size_t>(slot)] = text;
            }
        }
        answers.completedSlot.reset();
    }
    answers.rawTransferOpen = answers.bluetoothUpdate = answers.inBootloader = false;
    memory.lastSector = ToolMemory::kNoSector;
    if (answers.faults.hardwareIdAfterReboot) {
        const int id = *answers.faults.hardwareIdAfterReboot;
        const uint8_t bytes[2] = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
        memory.program.write(tool::kConfigurationAddress + 30, bytes);
    }
}

bool ToolPower_powerUp(ToolAnswers& answers, ToolMemory& memory) {
    int slot = answers.completedSlot ? *answers.completedSlot : answers.activeSlot;
    if (memory.partial[static_cast<size_t>(slot)]) slot = 1 - slot;
    if (memory.partial[static_cast<size_t>(slot)]) return false;
    answers.completedSlot = slot;
    ToolMemory_showFirmwareIdentity(memory);
    if (memory.partial[static_cast<size_t>(RawTarget::BluetoothModule)]) {
        answers.bluetoothVersion = 255;
    }
    answers.faults.cutAt.reset();
    answers.faults.vanishAt.reset();
    ToolPower_restart(answers, memory);
    return true;
}

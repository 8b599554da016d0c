// The virtual tool on and off the bus: where a host finds it, how often it came and went,
// and what a restart or a power-up after a cut starts, as the protocol implies:
// - memory keeps exactly what was written before the cut: a data area cut mid-write is part
//   new, part old; an erased area reads erased; a program area (bootloader, firmware,
//   module) holds the records that arrived, over what it held before;
// - a bootloader whose image was cut short does not start: the tool starts the one completed
//   since its last start, else the one it ran, else the other; with neither complete it
//   stays dark (no later run can reach it);
// - identity reads return the identity block at the head of the firmware area as it now
//   stands, and the firmware id the data memory holds, whatever they are;
// - a Bluetooth module whose image was cut short reports version 255.
#pragma once

#include <string>

#include "toolsim/tool_answers.h"
#include "toolsim/tool_memory.h"

struct ToolPower {
    // On the bus: a terminal is published. Each coming online adds one to the generation.
    bool online = false;
    int generation = 0;
    std::string devicePath;
    std::string sysfsNode;
    std::string usbPortPath;
    bool reenumerate = false;  // each return under a new node
    int reboots = 0;
    bool powerUpAsked = false;
    std::string failure;  // what it was asked and could not do
};

// A restart: the bootloader completed since the last start runs, nothing is open any more.
void ToolPower_restart(ToolAnswers& answers, ToolMemory& memory);
// A power-up after a cut; false when no complete bootloader is left to start.
bool ToolPower_powerUp(ToolAnswers& answers, ToolMemory& memory);

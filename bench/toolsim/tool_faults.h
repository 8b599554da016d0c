// What the virtual tool was told to get wrong: commands it answers badly, the blocks and
// points of an update where it refuses, leaves or stops reading, and how it reboots.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>

#include "toolsim/tool_phase.h"

enum class RefusalStyle {
    Immediate,  // the block is answered "EO"
    Late,       // the block is answered "O" and an "E" follows a moment later
};

struct CommandFault {
    int after = 0;   // answers still given normally
    int times = -1;  // then this many faulty ones; -1: for ever
};

// Block indexes count the write frames (commands 4 and 16, raw records) since the tool
// started.
struct ToolFaults {
    std::map<int, CommandFault> silent;
    std::map<int, CommandFault> hi;
    std::map<int, CommandFault> late;
    std::map<int, CommandFault> half;
    std::optional<CutPoint> cutAt;
    std::optional<CutPoint> refuseAtPoint;
    std::optional<CutPoint> stopReadingAt;
    std::chrono::milliseconds leaveDelay{0};
    bool selfRestartUnanswered = false;
    std::chrono::milliseconds lateDelay{0};
    std::optional<int64_t> refuseAt;
    RefusalStyle refusalStyle = RefusalStyle::Immediate;
    int pieceSize = 0;
    std::optional<int64_t> vanishAt;
    bool stayAway = false;
    std::optional<int> hardwareIdAfterReboot;
};

// Whether `command`'s next answer is the faulty one `table` holds for it; counts it down.
bool ToolFaults_take(std::map<int, CommandFault>& table, int command);

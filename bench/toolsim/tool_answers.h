// The virtual tool's answers: the program it runs (a bootloader or the firmware, and what that
// program was asked to open), what reached it, and each frame answered against that and its
// memory, with the faults it was told to show.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "toolsim/incoming_frame.h"
#include "toolsim/tool_faults.h"
#include "toolsim/tool_memory.h"
#include "toolsim/tool_phase.h"

struct ToolState;

// What the line does once the answer is out.
enum class ToolAfter { Nothing, Reboot, SelfReboot, Vanish, StopReading };

struct ToolOutcome {
    std::vector<uint8_t> reply;
    bool late = false;                   // a late "E" follows the reply
    std::chrono::milliseconds delay{0};  // before the reply goes out
    int pieceSize = 0;
    ToolAfter after = ToolAfter::Nothing;
    std::chrono::milliseconds leaveDelay{0};  // on the bus after a reboot command
};

struct ToolAnswers {
    char bootLetter = 'B';
    std::array<std::string, 2> slotVersions;
    int activeSlot = 1;
    int runMode = 1;
    int optionCode = 0;
    int bluetoothVersion = 0;
    bool inBootloader = false;  // after command 22
    bool rawTransferOpen = false;
    bool bluetoothUpdate = false;
    std::optional<int> completedSlot;  // boot slot whose image was completed since boot
    ToolFaults faults;
    // What reached it: every frame, bytes that were no frame (the first few kept to show),
    // frames refused for their checksum or form, and the write frames of each phase.
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> strayShown;
    size_t strayCount = 0;
    int refused = 0;
    int64_t blocksSeen = 0;
    std::map<ToolPhase, int64_t> phaseFrames;
};

// A tool in `state` that has seen nothing yet.
void ToolAnswers_load(ToolAnswers& answers, const ToolState& state);
// The answer to `frame` (whose bytes were `bytes`), what it wrote stored in `memory`.
ToolOutcome ToolAnswers_answer(ToolAnswers& answers, ToolMemory& memory,
                               const ExtraAreaPlace& extraArea, const IncomingFrame& frame,
                               std::span<const uint8_t> bytes);
// A frame that reached the tool unanswered (it was restarting).
void ToolAnswers_noteFrame(ToolAnswers& answers, std::span<const uint8_t> bytes);
void ToolAnswers_noteStray(ToolAnswers& answers, std::span<const uint8_t> bytes);

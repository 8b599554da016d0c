// Where in an update the tool is, told from the frames it receives, and the points of an
// update at which a fault (a cut, a refusal) can be placed: a phase and a position in it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "toolsim/incoming_frame.h"

enum class ToolPhase {
    Boot0,       // records of boot slot 0
    Boot1,       // records of boot slot 1
    Reboot,      // the reboot command
    Firmware,    // records of the firmware
    Erase,       // each erase command
    Memory,      // data writes outside the extra-file area
    Extra,       // data writes into the extra-file area, after its directory
    Directory,   // data writes into the directory: the area's first 2048 bytes
    Bluetooth,   // records of the Bluetooth module's image
    Completion,  // the bootloader entry that ends a successful update
    BackupRead,  // reads of the stored-file area (identification's look at it included)
};

// Where the tool keeps its extra-file area in data memory; size 0: nowhere known, so every
// data write counts as a memory write.
struct ExtraAreaPlace {
    uint64_t address = 0;
    uint64_t size = 0;
};

// The phase a frame belongs to, if any.
std::optional<ToolPhase> ToolPhase_of(const IncomingFrame& frame, const ExtraAreaPlace& area);
std::string_view ToolPhase_name(ToolPhase phase);

// Position counts the frames of a phase from the tool's start (0: the first); kLast is the frame
// that ends an image (its last record), which only record phases know.
struct CutPoint {
    static constexpr int64_t kLast = -1;
    ToolPhase phase = ToolPhase::Firmware;
    int64_t position = 0;
};

// "firmware:start", "firmware:40", "boot1:last", "erase:1".
std::optional<CutPoint> CutPoint_parse(std::string_view text);
std::string CutPoint_text(const CutPoint& point);
// Whether `frame`, the `index`th of its phase, is the point.
bool CutPoint_hits(const CutPoint& point, ToolPhase phase, int64_t index,
                   const IncomingFrame& frame);

// An update that stopped while it was writing to the tool: the run history keeps the step and
// the firmware chosen, and the next identification of the same tool tells the user how to
// finish it. A history that cannot be read never stands in the way of identification.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "workflows/firmware_choices.h"
#include "workflows/run_history.h"

struct UnfinishedUpdate {
    std::string step;  // "bootloader 0", "firmware", "memory files"...
    uint32_t firmwareId = 0;
};

// The step that a failure report names; none for a tag that is no failure mid-write (no tag,
// a tool switch).
std::optional<std::string> UnfinishedUpdate_stepOfTag(std::string_view tag);

// Marks an update record whose last report names a failure mid-write as interrupted.
void UnfinishedUpdate_mark(RunRecord& record);
// Marks it so when it stopped in `step` with nothing reported that names the step.
void UnfinishedUpdate_markStep(RunRecord& record, std::string step);

// The last update of the tool with this serial number that got as far as writing, when it
// did not finish. Lines without the step (an older version's) are read by their report tag.
std::optional<UnfinishedUpdate> UnfinishedUpdate_find(const RunHistoryRead& history,
                                                      uint32_t serialNumber);

struct UnfinishedUpdateNote {
    std::string text;
    std::optional<int> choice;  // the index to preselect: the firmware is still offered
};

// What the user is told about it, with the firmware's name among those offered.
UnfinishedUpdateNote UnfinishedUpdate_note(const UnfinishedUpdate& unfinished,
                                           const FirmwareChoices& choices);

#include "workflows/unfinished_update.h"

#include <array>
#include <utility>

namespace {

constexpr std::string_view kInterrupted = "interrupted";

std::string_view lastTag(const std::string& tags) {
    const size_t space = tags.rfind(' ');
    return space == std::string::npos ? std::string_view(tags)
                                      : std::string_view(tags).substr(space + 1);
}

}  // namespace

std::optional<std::string> UnfinishedUpdate_stepOfTag(std::string_view tag) {
    // Longest prefixes first: "_Failed_MemErase_Block_" also begins like "_Failed_Mem".
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kSteps{{
        {"_Failed_MemErase_Block_", "memory erase"},
        {"_Failed_Mem_Block_", "memory files"},
        {"_Failed_Custom_Mem_", "extra files"},
        {"_Failed_BLE_Update_", "Bluetooth module"},
        {"_Failed_FIRM", "firmware"},
        {"_Failed_BL", "bootloader "},
    }};
    for (const auto& [prefix, step] : kSteps) {
        if (tag.substr(0, prefix.size()) != prefix) continue;
        std::string text(step);
        // The bootloader's slot follows its prefix.
        if (prefix == "_Failed_BL") text += tag.substr(prefix.size());
        return text;
    }
    return std::nullopt;
}

void UnfinishedUpdate_mark(RunRecord& record) {
    if (record.workflow != "program" || !record.reportTag) return;
    if (auto step = UnfinishedUpdate_stepOfTag(lastTag(*record.reportTag))) {
        record.result = std::string(kInterrupted);
        record.step = std::move(*step);
    }
}

void UnfinishedUpdate_markStep(RunRecord& record, std::string step) {
    record.result = std::string(kInterrupted);
    record.step = std::move(step);
}

std::optional<UnfinishedUpdate> UnfinishedUpdate_find(const RunHistoryRead& history,
                                                      uint32_t serialNumber) {
    for (auto it = history.entries.rbegin(); it != history.entries.rend(); ++it) {
        const RunRecord& r = it->record;
        // Only updates that reached the tool count: a failed download changed nothing.
        if (r.workflow != "program" || r.serialNumber != serialNumber) continue;
        // A window closed mid-run leaves its record before any failure was reported.
        if (!r.reportTag && !r.interrupted) continue;
        std::optional<std::string> step;
        if (r.result == kInterrupted && r.step) {
            step = r.step;
        } else if (r.reportTag) {
            step = UnfinishedUpdate_stepOfTag(lastTag(*r.reportTag));
        }
        if (!step && r.interrupted) step = "stopped";
        if (step) {
            if (!r.firmwareId || *r.firmwareId == 0) return std::nullopt;
            return UnfinishedUpdate{*step, *r.firmwareId};
        }
        // The report without a tag ends a finished update; a switch wrote nothing.
        if (r.reportTag && lastTag(*r.reportTag).empty()) return std::nullopt;
    }
    return std::nullopt;
}

UnfinishedUpdateNote UnfinishedUpdate_note(const UnfinishedUpdate& unfinished,
                                           const FirmwareChoices& choices) {
    UnfinishedUpdateNote note;
    for (size_t i = 0; i < choices.opt3.size(); ++i) {
        if (leadingInteger(choices.opt3[i]) != static_cast<int>(unfinished.firmwareId)) continue;
        note.choice = static_cast<int>(i);
        note.text = "The last update of this tool did not finish (" + unfinished.step +
                    "). Program " + choiceName(choices, i) + " again to complete it.";
        return note;
    }
    note.text = "The last update of this tool did not finish (" + unfinished.step +
                "). Its firmware (" + std::to_string(unfinished.firmwareId) +
                ") is no longer offered: program one of those offered to complete it.";
    return note;
}

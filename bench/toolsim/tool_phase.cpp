#include "toolsim/tool_phase.h"

#include <array>
#include <charconv>

#include "link/tool_protocol.h"

namespace {

constexpr std::array<std::string_view, 11> kNames = {
    "boot0", "boot1",     "reboot",    "firmware",   "erase",      "memory",
    "extra", "directory", "bluetooth", "completion", "backup-read"};

constexpr uint64_t kDirectoryBytes = 2048;  // up to 511 files
constexpr uint64_t kSingleFileAddress = 0x6C0000;
constexpr uint32_t kDirectoryBlock = 0x600000;

}  // namespace

std::optional<ToolPhase> ToolPhase_of(const IncomingFrame& f, const ExtraAreaPlace& area) {
    if (f.raw) {
        if (!f.header) return std::nullopt;
        switch (f.header->target) {
            case RawTarget::BootSlot0:
                return ToolPhase::Boot0;
            case RawTarget::BootSlot1:
                return ToolPhase::Boot1;
            case RawTarget::Firmware:
                return ToolPhase::Firmware;
            case RawTarget::BluetoothModule:
                return ToolPhase::Bluetooth;
        }
        return std::nullopt;
    }
    uint64_t address = f.address;
    switch (static_cast<ToolCommand>(f.command)) {
        case ToolCommand::Reboot:
            return ToolPhase::Reboot;
        case ToolCommand::EraseBlocks:
            return ToolPhase::Erase;
        case ToolCommand::EnterBootloader:
            return ToolPhase::Completion;
        case ToolCommand::ReadData:
            if (address >= kSingleFileAddress) return ToolPhase::BackupRead;
            return std::nullopt;
        case ToolCommand::ReadDataBlock:
            if (f.address >= kDirectoryBlock) return ToolPhase::BackupRead;
            return std::nullopt;
        case ToolCommand::WriteSector:
            address *= tool::kSectorSize;
            [[fallthrough]];
        case ToolCommand::WriteBlock:
            if (area.size == 0 || address < area.address || address >= area.address + area.size) {
                return ToolPhase::Memory;
            }
            return address < area.address + kDirectoryBytes ? ToolPhase::Directory
                                                            : ToolPhase::Extra;
        default:
            return std::nullopt;
    }
}

std::string_view ToolPhase_name(ToolPhase phase) {
    return kNames[static_cast<size_t>(phase)];
}

std::optional<CutPoint> CutPoint_parse(std::string_view text) {
    const size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    const std::string_view where =
        colon == std::string_view::npos ? "start" : text.substr(colon + 1);
    CutPoint point;
    bool known = false;
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == name) {
            point.phase = static_cast<ToolPhase>(i);
            known = true;
        }
    }
    if (!known) return std::nullopt;
    if (where == "start") return point;
    if (where == "last") {
        point.position = CutPoint::kLast;
        return point;
    }
    int64_t n = -1;
    auto [end, ec] = std::from_chars(where.data(), where.data() + where.size(), n);
    if (ec != std::errc() || end != where.data() + where.size() || n < 0) return std::nullopt;
    point.position = n;
    return point;
}

std::string CutPoint_text(const CutPoint& point) {
    std::string text(ToolPhase_name(point.phase));
    if (point.position == CutPoint::kLast) return text + ":last";
    return text + ":" + (point.position == 0 ? "start" : std::to_string(point.position));
}

bool CutPoint_hits(const CutPoint& point, ToolPhase phase, int64_t index,
                   const IncomingFrame& frame) {
    if (point.phase != phase) return false;
    if (point.position == CutPoint::kLast) return frame.header && frame.header->last;
    return point.position == index;
}

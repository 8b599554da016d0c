#include "toolsim/tool_memory.h"

#include <algorithm>

#include "link/tool_protocol.h"
#include "toolsim/tool_state.h"

namespace {

// Largest program each area takes.
constexpr size_t kAreaLimit[kRawTargetCount] = {256 * 1024, 256 * 1024, 8 * 1024 * 1024,
                                                1024 * 1024};

}  // namespace

void ToolMemory_load(ToolMemory& memory, const ToolState& state) {
    memory = ToolMemory{};
    memory.program.write(tool::kIdentityAddress, state.identity);
    memory.program.write(tool::kConfigurationAddress, state.configuration);
    ToolState_fillDataMemory(state, memory.data);
}

void ToolMemory_writeSector(ToolMemory& memory, uint32_t sector, std::span<const uint8_t> body) {
    // Blocks smaller than a sector share its number: a write to the sector just written
    // continues where the previous one stopped.
    const uint32_t offset = sector == memory.lastSector && memory.lastSectorFill < tool::kSectorSize
                                ? memory.lastSectorFill
                                : 0;
    memory.data.write(uint64_t{sector} * tool::kSectorSize + offset, body);
    memory.lastSector = sector;
    memory.lastSectorFill = offset + static_cast<uint32_t>(body.size());
}

bool ToolMemory_storeRecord(ToolMemory& memory, const RawRecordHeader& header,
                            std::span<const uint8_t> data) {
    const auto target = static_cast<size_t>(header.target);
    const size_t end = size_t{header.offset} + data.size();
    if (end > kAreaLimit[target]) return false;
    std::vector<uint8_t>& program = memory.programs[target];
    if (program.size() < end) program.resize(end, SparseMemory::kErased);
    std::ranges::copy(data, program.begin() + header.offset);
    memory.records.push_back({header.target, header.offset, header.last,
                              std::vector<uint8_t>(data.begin(), data.end())});
    memory.partial[target] = !header.last;
    return true;
}

void ToolMemory_showFirmwareIdentity(ToolMemory& memory) {
    const std::vector<uint8_t>& firmware =
        memory.programs[static_cast<size_t>(RawTarget::Firmware)];
    if (firmware.size() >= static_cast<size_t>(kIdentityBlockSize)) {
        memory.program.write(tool::kIdentityAddress,
                             std::span<const uint8_t>(firmware.data(), kIdentityBlockSize));
    }
}

void ToolMemory_trimRecords(ToolMemory& memory, size_t limit) {
    if (memory.records.size() >= limit) {
        memory.records.erase(memory.records.begin(),
                             memory.records.begin() + static_cast<ptrdiff_t>(limit / 2));
    }
}

// What the virtual tool holds: its program memory (identity and configuration blocks), its
// data memory, the program areas raw records fill, and the records as they came.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "toolsim/raw_record.h"
#include "toolsim/sparse_memory.h"

struct ToolState;

// A record of an image as the tool stored it.
struct StoredRecord {
    RawTarget target;
    uint32_t offset;
    bool last;
    std::vector<uint8_t> data;
};

struct ToolMemory {
    static constexpr uint32_t kNoSector = 0xFFFFFFFF;
    SparseMemory program;
    SparseMemory data;
    std::array<std::vector<uint8_t>, kRawTargetCount> programs;
    std::array<bool, kRawTargetCount> partial{};  // an image begun and not ended
    std::vector<StoredRecord> records;
    uint32_t lastSector = kNoSector;  // where the last sector write went
    uint32_t lastSectorFill = 0;      // and how far into it
};

// What a tool in `state` holds, with nothing written to it yet.
void ToolMemory_load(ToolMemory& memory, const ToolState& state);
void ToolMemory_writeSector(ToolMemory& memory, uint32_t sector, std::span<const uint8_t> body);
// Into its program area, over what it held; false when the area does not reach that far.
bool ToolMemory_storeRecord(ToolMemory& memory, const RawRecordHeader& header,
                            std::span<const uint8_t> data);
// Identity reads show the identity block at the head of the firmware area as it now stands.
void ToolMemory_showFirmwareIdentity(ToolMemory& memory);
// A long session keeps its recent records only.
void ToolMemory_trimRecords(ToolMemory& memory, size_t limit);

// A large flash-like memory of which only the written 64 KB pages take room. Unwritten and
// erased bytes read 0xFF.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

class SparseMemory {
  public:
    static constexpr uint64_t kPageSize = 65536;
    static constexpr uint8_t kErased = 0xFF;

    void write(uint64_t address, std::span<const uint8_t> bytes);
    std::vector<uint8_t> read(uint64_t address, size_t length) const;
    // Erases the 64 KB units first .. end-1.
    void erasePages(uint64_t first, uint64_t end);
    void clear() { pages_.clear(); }
    const std::map<uint64_t, std::vector<uint8_t>>& pages() const { return pages_; }

  private:
    std::map<uint64_t, std::vector<uint8_t>> pages_;
};

#include "toolsim/sparse_memory.h"

#include <algorithm>
#include <cstring>

void SparseMemory::write(uint64_t address, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const uint64_t at = address + done;
        const uint64_t within = at % kPageSize;
        const size_t take = std::min<size_t>(bytes.size() - done, kPageSize - within);
        auto [it, fresh] = pages_.try_emplace(at / kPageSize);
        if (fresh) it->second.assign(kPageSize, kErased);
        std::memcpy(it->second.data() + within, bytes.data() + done, take);
        done += take;
    }
}

std::vector<uint8_t> SparseMemory::read(uint64_t address, size_t length) const {
    std::vector<uint8_t> out(length, kErased);
    size_t done = 0;
    while (done < length) {
        const uint64_t at = address + done;
        const uint64_t within = at % kPageSize;
        const size_t take = std::min<size_t>(length - done, kPageSize - within);
        auto it = pages_.find(at / kPageSize);
        if (it != pages_.end()) std::memcpy(out.data() + done, it->second.data() + within, take);
        done += take;
    }
    return out;
}

void SparseMemory::erasePages(uint64_t first, uint64_t end) {
    if (end <= first) return;
    pages_.erase(pages_.lower_bound(first), pages_.lower_bound(end));
}

// The directory of a kind-2 stored-file area, read a block at a time as far as it is needed
// and never past the entries it announces.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

struct ByteString;

inline constexpr int32_t kStoredDirectoryBlockSize = 512;

class StoredDirectory {
  public:
    // Reads directory block `index` (0 first) into the empty `reply`; false when that fails.
    using BlockReader = std::function<bool(uint32_t index, ByteString* reply)>;

    explicit StoredDirectory(BlockReader read) : read_(std::move(read)) {}

    bool readFirstBlock() { return readNextBlock(); }
    // Bytes 4 and 5 of the first block; 0 before it was read.
    int32_t fileCount() const;
    // Reads on until entry g is in; false for an entry the directory does not hold.
    bool readThrough(int32_t g);
    // The first block number of file g, once readThrough(g) held.
    int32_t firstBlock(int32_t g) const;
    uint32_t blocksRead() const { return blocks_; }

  private:
    bool readNextBlock();

    BlockReader read_;
    std::vector<uint8_t> bytes_;
    uint32_t blocks_ = 0;
};

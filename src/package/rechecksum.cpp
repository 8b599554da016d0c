#include "package/rechecksum.h"

#include <cstdint>

#include "core/byte_string.h"

namespace {

constexpr int32_t kStoredBlock = kRechecksumInBlock + 2;

void appendSum(ByteString* out, uint32_t sum) {
    ByteString_appendByte(out, static_cast<uint8_t>(sum & 0xFF));
    ByteString_appendByte(out, static_cast<uint8_t>((sum >> 8) & 0xFF));
}

bool sumMatches(const uint8_t* stored, uint32_t sum) {
    return stored[0] == (sum & 0xFF) && stored[1] == ((sum >> 8) & 0xFF);
}

}  // namespace

ByteString* RechecksumTo256(const ByteString* input) {
    if (input == nullptr) return nullptr;
    const int32_t n = input->length;
    if (n <= 3) return ByteString_create(0);
    // Every data byte of the whole blocks is carried. A final partial block ends in its two
    // checksum bytes, so one or two bytes after the last whole block hold no data.
    const int32_t tail = n % kStoredBlock;
    const int32_t wholeBlocks = n / kStoredBlock;

    ByteStringPtr out(ByteString_create(n));
    uint32_t chunkSum = 0;
    int32_t inChunk = 0;
    for (int32_t block = 0; block <= wholeBlocks; ++block) {
        const bool whole = block < wholeBlocks;
        const int32_t dataLength = whole ? kRechecksumInBlock : (tail > 2 ? tail - 2 : 0);
        const uint8_t* data = input->data + block * kStoredBlock;
        uint32_t blockSum = 0;
        for (int32_t i = 0; i < dataLength; ++i) {
            ByteString_appendByte(out.get(), data[i]);
            blockSum += data[i];
            chunkSum += data[i];
            if (++inChunk == kRechecksumOutBlock) {
                appendSum(out.get(), chunkSum);
                chunkSum = 0;
                inChunk = 0;
            }
        }
        // The sum of a partial final block is not compared.
        if (whole && !sumMatches(data + dataLength, blockSum)) return nullptr;
    }
    if (inChunk > 0) appendSum(out.get(), chunkSum);
    return out.release();
}

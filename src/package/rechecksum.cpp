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
    const int32_t tail = n % kStoredBlock;
    // Every block, the last partial one included, carries its checksum, so a partial block
    // holds at least one data byte and its two checksum bytes.
    if (n < 3) return ByteString_create(0);
    if (tail == 1 || tail == 2) return nullptr;

    ByteStringPtr out(ByteString_create(n));
    uint32_t chunkSum = 0;
    int32_t inChunk = 0;
    for (int32_t blockStart = 0; blockStart < n; blockStart += kStoredBlock) {
        int32_t dataLength =
            n - blockStart >= kStoredBlock ? kRechecksumInBlock : n - blockStart - 2;
        const uint8_t* data = input->data + blockStart;
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
        if (!sumMatches(data + dataLength, blockSum)) return nullptr;
    }
    if (inChunk > 0) appendSum(out.get(), chunkSum);
    return out.release();
}

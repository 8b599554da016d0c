#include "toolsim/raw_record.h"

#include <algorithm>

void RawRecord_encodeHeader(const RawRecordHeader& header, uint8_t out[kRawHeaderSize]) {
    out[0] = static_cast<uint8_t>(static_cast<uint8_t>(header.target) |
                                  (header.last ? kRawLastRecord : 0));
    out[1] = static_cast<uint8_t>(header.offset & 0xFF);
    out[2] = static_cast<uint8_t>((header.offset >> 8) & 0xFF);
    out[3] = static_cast<uint8_t>((header.offset >> 16) & 0xFF);
    out[4] = static_cast<uint8_t>(header.length & 0xFF);
    out[5] = static_cast<uint8_t>(header.length >> 8);
}

std::optional<RawRecordHeader> RawRecord_decodeHeader(std::span<const uint8_t> bytes) {
    if (bytes.size() < kRawHeaderSize) return std::nullopt;
    const uint8_t target = bytes[0] & static_cast<uint8_t>(~kRawLastRecord);
    if (target >= kRawTargetCount) return std::nullopt;
    RawRecordHeader header;
    header.target = static_cast<RawTarget>(target);
    header.last = (bytes[0] & kRawLastRecord) != 0;
    header.offset = bytes[1] | (bytes[2] << 8) | (bytes[3] << 16);
    header.length = static_cast<uint16_t>(bytes[4] | (bytes[5] << 8));
    return header;
}

std::vector<uint8_t> RawImage_build(RawTarget target, std::span<const uint8_t> program,
                                    int recordData) {
    std::vector<uint8_t> image;
    if (recordData <= 0) return image;
    const size_t step = static_cast<size_t>(recordData);
    const size_t records = std::max<size_t>(1, (program.size() + step - 1) / step);
    image.reserve(records * (step + kRawHeaderSize));
    for (size_t r = 0; r < records; ++r) {
        RawRecordHeader header;
        header.target = target;
        header.last = r + 1 == records;
        header.offset = static_cast<uint32_t>(r * step);
        header.length = static_cast<uint16_t>(step);
        uint8_t head[kRawHeaderSize];
        RawRecord_encodeHeader(header, head);
        image.insert(image.end(), head, head + kRawHeaderSize);
        const size_t from = r * step;
        const size_t take = from < program.size() ? std::min(step, program.size() - from) : 0;
        image.insert(image.end(), program.begin() + static_cast<ptrdiff_t>(from),
                     program.begin() + static_cast<ptrdiff_t>(from + take));
        image.insert(image.end(), step - take, 0xFF);
    }
    return image;
}

#include "toolsim/incoming_frame.h"

#include "link/frame_builder.h"
#include "link/tool_protocol.h"

namespace {

uint32_t sum(std::span<const uint8_t> bytes) {
    uint32_t s = 0;
    for (uint8_t b : bytes) s += b;
    return s;
}

ParseResult parseRaw(std::span<const uint8_t> in, IncomingFrame& f) {
    if (in.size() < 2 + kRawHeaderSize) return ParseResult::NeedMore;
    std::span<const uint8_t> head = in.subspan(2, kRawHeaderSize);
    const size_t length = head[4] | (head[5] << 8);
    if (in.size() < 2 + kRawHeaderSize + length) return ParseResult::NeedMore;
    f = IncomingFrame{};
    f.raw = true;
    f.start = in[0];
    f.words = in[1];
    f.size = 2 + kRawHeaderSize + length;
    f.header = RawRecord_decodeHeader(head);
    f.data.assign(in.begin() + 2 + kRawHeaderSize, in.begin() + static_cast<ptrdiff_t>(f.size));
    const bool bluetooth = f.header && f.header->target == RawTarget::BluetoothModule;
    f.recordOk = f.header.has_value() && ((length + 3) / 4 & 0xFF) == f.words &&
                 (f.start == kFrameStart) == bluetooth;
    return ParseResult::Frame;
}

ParseResult parseNormal(std::span<const uint8_t> in, IncomingFrame& f) {
    if (in.size() < 6) return ParseResult::NeedMore;
    const uint8_t command = in[2];
    const bool write = command == commandCode(ToolCommand::WriteBlock) ||
                       command == commandCode(ToolCommand::WriteSector);
    const size_t body = in[1] == 255 && write ? kLargestWriteBlock : size_t{in[1]} * 4;
    const size_t size = 6 + body + 2;
    if (in.size() < size) return ParseResult::NeedMore;
    f = IncomingFrame{};
    f.start = in[0];
    f.words = in[1];
    f.size = size;
    f.command = command;
    f.address = in[3] | (in[4] << 8) | (in[5] << 16);
    f.body.assign(in.begin() + 6, in.begin() + 6 + static_cast<ptrdiff_t>(body));
    const uint32_t checksum = in[size - 2] | (in[size - 1] << 8);
    f.checksumOk = checksum == (sum(in.subspan(2, 4 + body)) & 0xFFFF);
    return ParseResult::Frame;
}

}  // namespace

ParseResult IncomingFrame_parse(std::span<const uint8_t> in, const ParseContext& context,
                                IncomingFrame& frame) {
    if (in.empty()) return ParseResult::NeedMore;
    if (in[0] == kRawFrameStart) return parseRaw(in, frame);
    if (in[0] != kFrameStart) return ParseResult::NotAFrame;
    if (context.bluetoothRecords) {
        if (in.size() < 2 + kRawHeaderSize) return ParseResult::NeedMore;
        auto header = RawRecord_decodeHeader(in.subspan(2, kRawHeaderSize));
        if (header && header->target == RawTarget::BluetoothModule &&
            ((header->length + 3) / 4 & 0xFF) == in[1]) {
            return parseRaw(in, frame);
        }
    }
    return parseNormal(in, frame);
}

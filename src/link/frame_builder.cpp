#include "link/frame_builder.h"

#include "core/byte_string.h"
#include "link/tool_protocol.h"

namespace {

void appendBody(ByteString* frame, int32_t length, const ByteString* payload) {
    if (length > 0) {
        ByteString_appendByte(frame, static_cast<uint8_t>(length & 0xFF));
        ByteString_appendByte(frame, static_cast<uint8_t>((length >> 8) & 0xFF));
    }
    if (payload != nullptr) ByteString_appendBytes(frame, payload->data, payload->length);
}

int64_t bodyLength(int32_t length, const ByteString* payload) {
    return (length > 0 ? 2 : 0) + (payload != nullptr ? payload->length : 0);
}

}  // namespace

ByteString* ToolFrame_build(uint32_t command, uint32_t address, int32_t length,
                            const ByteString* payload, uint8_t raw, int32_t seed) {
    ByteString* frame = ByteString_create(kFrameCapacity);
    int64_t body = bodyLength(length, payload);

    if (raw) {
        bool bluetooth = command == commandCode(ToolCommand::BluetoothRecord);
        ByteString_appendByte(frame, bluetooth ? kFrameStart : kRawFrameStart);
        // Bodies always hold at least their 6-byte record header; a shorter one counts 0.
        int64_t words = body > 6 ? (body - 6 + 3) / 4 : 0;
        ByteString_appendByte(frame, static_cast<uint8_t>(words & 0xFF));
        appendBody(frame, length, payload);
        return frame;
    }

    int64_t words = (body + 3) / 4;
    ByteString_appendByte(frame, kFrameStart);
    ByteString_appendByte(frame, static_cast<uint8_t>(words > 255 ? 255 : words));
    const int32_t headerStart = frame->length;
    ByteString_appendByte(frame, static_cast<uint8_t>(command & 0xFF));
    ByteString_appendByte(frame, static_cast<uint8_t>(address & 0xFF));
    ByteString_appendByte(frame, static_cast<uint8_t>((address >> 8) & 0xFF));
    ByteString_appendByte(frame, static_cast<uint8_t>((address >> 16) & 0xFF));
    appendBody(frame, length, payload);
    while ((frame->length - headerStart) % 4 != 0) ByteString_appendByte(frame, kFramePadding);

    uint32_t sum = 0;
    if (seed == kSeedComputed) {
        for (int32_t i = headerStart; i < frame->length; ++i) sum += frame->data[i];
    } else {
        for (int32_t i = headerStart; i < headerStart + 4; ++i) sum += frame->data[i];
        sum += static_cast<uint32_t>(seed);
    }
    ByteString_appendByte(frame, static_cast<uint8_t>(sum & 0xFF));
    ByteString_appendByte(frame, static_cast<uint8_t>((sum >> 8) & 0xFF));
    return frame;
}

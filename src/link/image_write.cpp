// Writing an image into the tool, one frame per chunk.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "core/byte_string.h"
#include "link/frame_builder.h"
#include "link/frame_exchange.h"
#include "link/link_trace.h"
#include "link/tool_commands.h"
#include "link/tool_link.h"
#include "link/tool_protocol.h"

namespace {

constexpr int kRawRecordHeader = 6;
constexpr int kChecksumBytes = 2;

uint32_t pickCommand(uint32_t command, int sector) {
    if (command != 0) return command;
    return commandCode(sector ? ToolCommand::WriteSector : ToolCommand::WriteBlock);
}

// After the last chunk the tool may still refuse the image with a late "E". A tool that left
// the bus without acknowledging the last chunk may not have stored it: that is no success,
// unless leaving is what the tool does once the image is in.
int finalCheck(ToolLink* link, uint32_t command, bool lastAcknowledged, ImageEnd end) {
    if (link->transportKind != kTransportSerial || link->descriptor < 0) return 1;
    std::this_thread::sleep_for(link->settings.timing.imageSettle);
    uint8_t byte = 0;
    ssize_t n = ::read(link->descriptor, &byte, 1);
    pollfd p{link->descriptor, POLLIN, 0};
    const bool gone =
        n != 1 && ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
    if (gone && !lastAcknowledged && end != ImageEnd::ToolMayLeave) {
        LinkTrace_bytes(link->settings.trace, LinkTraceDirection::Received, command, {},
                        "the tool left before acknowledging the last block", true);
        return 0;
    }
    if (gone && !lastAcknowledged) {
        LinkTrace_bytes(link->settings.trace, LinkTraceDirection::Received, command, {},
                        "the tool restarted before acknowledging the last block", false);
        return 1;
    }
    if (n == 1) {
        LinkTrace_bytes(link->settings.trace, LinkTraceDirection::Received, command, {&byte, 1},
                        "after the last block");
    }
    return n == 1 && byte == tool::kRefusal ? 0 : 1;
}

}  // namespace

int Tool_writeImage(ToolLink* link, const ByteString* image, int32_t blockSize, int raw,
                    int32_t start, int firstBlock, int sector, int checksum, uint32_t command,
                    const ProgressFn& progress, ImageEnd end) {
    if (blockSize <= 0) return 0;
    const uint32_t code = pickCommand(command, sector);
    uint32_t address =
        sector ? static_cast<uint32_t>(start) * 512u : static_cast<uint32_t>(start) * 65536u;

    int32_t chunkSize = blockSize;
    if (raw) {
        ByteStringPtr ack(ByteString_create(8));
        if (!ToolLink_exchange(link, ack.get(), commandCode(ToolCommand::OpenRawTransfer), 0, 0,
                               nullptr, 0, tool::kTimeoutShort, 0) ||
            (ack->length > 0 && ack->data[0] == tool::kRefusal)) {
            return 0;
        }
        chunkSize = blockSize + kRawRecordHeader;
    } else if (checksum) {
        chunkSize = blockSize + kChecksumBytes;
    }

    const int32_t total = image != nullptr ? image->length : 0;
    ByteStringPtr chunk(ByteString_create(chunkSize));
    ByteStringPtr reply(ByteString_create(8));
    int32_t offset = 0;
    bool first = true;
    bool acknowledged = false;
    while (offset < total) {
        const int32_t stored = std::min(chunkSize, total - offset);
        int32_t seed = kSeedComputed;
        if (firstBlock && first) {
            ByteString_assignBytes(chunk.get(), "1", 1);
        } else {
            const uint8_t* bytes = image->data + offset;
            int32_t keep = stored;
            if (checksum) {
                // The chunk's own checksum travels in the frame's checksum, not in its data.
                keep = std::max(stored - kChecksumBytes, 0);
                seed = bytes[keep];
                if (stored - keep > 1) seed |= bytes[keep + 1] << 8;
            }
            ByteString_assignBytes(chunk.get(), bytes, keep);
        }
        first = false;
        while (chunk->length < blockSize) ByteString_appendByte(chunk.get(), 0);

        ByteString_assignBytes(reply.get(), "", 0);
        const uint32_t frameAddress =
            code == commandCode(ToolCommand::WriteSector) ? address / 512u : address;
        int ok = ToolLink_exchange(link, reply.get(), code, frameAddress, 0, chunk.get(),
                                   raw ? 1 : 0, tool::kTimeoutShort, seed);
        if (ok && reply->length > 0 && reply->data[0] == tool::kRefusal) return 0;
        acknowledged = ok != 0;

        offset += stored;
        address += static_cast<uint32_t>(blockSize);
        if (progress) progress(static_cast<int>(static_cast<int64_t>(offset) * 100 / total));
        // The last chunk needs no acknowledgement: the final check below stands for it.
        if (!ok && offset < total) return 0;
    }
    return finalCheck(link, code, acknowledged, end);
}

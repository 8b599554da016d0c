// Entries for what the tool sends: a reply arriving in arbitrary reads, the stored-file
// header and the stored-file directory.
#include <algorithm>
#include <cstring>

#include "core/byte_string.h"
#include "fuzz_entries.h"
#include "fuzz_input.h"
#include "link/reply_assembly.h"
#include "link/stored_file_header.h"
#include "link/tool_link.h"
#include "workflows/stored_directory.h"

namespace {

using fuzzinput::bytesOf;
using fuzzinput::Pieces;
using fuzzinput::terminated;

}  // namespace

// Byte 0: bit 0 an earlier reply was given up; bytes 1, 2: the length argument (signed, within
// about 1100 either way); then the reads, each a length byte and its bytes.
bool fuzzReplyAssembly(const uint8_t* data, size_t size) {
    if (size < 3) return true;
    const bool suspect = (data[0] & 1) != 0;
    const int32_t length = static_cast<int16_t>(data[1] | (data[2] << 8)) % 1100;
    const size_t expected = length > 0 ? static_cast<size_t>(length) + 1 : 1;
    uint8_t buffer[kReceiveBufferSize];
    size_t received = 0;
    ReplyVerdict verdict = ReplyVerdict::Waiting;
    Pieces reads({data + 3, size - 3}, 1, 256);
    while (!reads.done() && verdict == ReplyVerdict::Waiting) {
        auto bytes = reads.next();
        // A read takes no more than the buffer has room for.
        const size_t n = std::min(bytes.size(), sizeof buffer - received);
        if (n > 0) std::memcpy(buffer + received, bytes.data(), n);
        received += n;
        verdict = ToolReply_assess({buffer, received}, length, suspect);
    }
    const bool endsReply = received > 0 && buffer[received - 1] == 'O';
    switch (verdict) {
        case ReplyVerdict::Complete:
            // The callers read `length` data bytes: a complete reply holds exactly those.
            return endsReply && received >= expected && (length <= 0 || received == expected) &&
                   (!suspect || length > 0 || received <= 2);
        case ReplyVerdict::Hi:
            return received == 2 && buffer[0] == 'H' && buffer[1] == 'I';
        case ReplyVerdict::Refused:
            return length > 0 ? received > expected : suspect && received > 2;
        case ReplyVerdict::Full:
            return received == sizeof buffer && !(endsReply && received >= expected);
        case ReplyVerdict::Waiting:
            return received < sizeof buffer;
    }
    return false;
}

bool fuzzStoredHeader(const uint8_t* data, size_t size) {
    const uint32_t live = ByteString_liveCount();
    bool ok;
    {
        ByteStringPtr block = bytesOf(data, size);
        StoredFileHeader header;
        if (!StoredFileHeader_read(block.get(), &header)) {
            ok = header.text1 == nullptr && header.text2 == nullptr && header.size == 0;
        } else {
            const auto* text2 = header.text2.get();
            ok = size >= 43 && header.size > 0 && header.size <= 0x500000 &&
                 header.number == (data[6] | (data[7] << 8)) && header.text1 != nullptr &&
                 header.text1->length == 17 && terminated(header.text1.get()) &&
                 std::memcmp(header.text1->data, data + 8, 17) == 0 && text2 != nullptr &&
                 terminated(text2) && text2->length <= 18 &&
                 std::memcmp(text2->data, data + 25, static_cast<size_t>(text2->length)) == 0 &&
                 std::memchr(text2->data, 0, static_cast<size_t>(text2->length)) == nullptr &&
                 (text2->length == 18 || data[25 + text2->length] == 0);
        }
    }
    return ok && ByteString_liveCount() == live;
}

// The input is the directory's block replies, each a two-byte length (below 1024) and its
// bytes; a reply the input lacks is a failed read.
bool fuzzStoredDirectory(const uint8_t* data, size_t size) {
    const uint32_t live = ByteString_liveCount();
    bool ok = true;
    {
        Pieces replies({data, size}, 2, 1024);
        uint32_t asked = 0;
        StoredDirectory directory([&](uint32_t index, ByteString* reply) {
            if (index != asked++ || replies.done()) return false;
            auto bytes = replies.next();
            ByteString_appendBytes(reply, bytes.data(), static_cast<int32_t>(bytes.size()));
            return true;
        });
        if (directory.readFirstBlock()) {
            const int32_t count = directory.fileCount();
            int32_t g = 0;
            for (; g < count && directory.readThrough(g); ++g) {
                const int32_t first = directory.firstBlock(g);
                // Blocks are read only as far as entry g needs.
                const uint32_t needed = static_cast<uint32_t>((8 + 4 * g + 4 + 511) / 512);
                ok = ok && first >= 0 && first < (1 << 23) && directory.blocksRead() == needed;
            }
            const uint32_t blocks = directory.blocksRead();
            // An entry past the count is never read for.
            ok = ok && !directory.readThrough(count) && directory.blocksRead() == blocks &&
                 directory.firstBlock(-1) == -1;
        } else {
            ok = directory.fileCount() == 0 && !directory.readThrough(0);
        }
    }
    return ok && ByteString_liveCount() == live;
}

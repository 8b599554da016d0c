// Reading a stored file out of the tool's data memory.
#include <algorithm>

#include "core/byte_string.h"
#include "link/tool_commands.h"
#include "link/tool_request.h"

namespace {

constexpr int32_t kBlock = tool::kSectorSize;

struct FileOutputs {
    ByteStringPtr data;
    ByteStringPtr header1;
    ByteStringPtr header2;
    int32_t number = 0;
};

int32_t readLittle32(const uint8_t* b) {
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                                (static_cast<uint32_t>(b[2]) << 16) |
                                (static_cast<uint32_t>(b[3]) << 24));
}

// The header block: size from byte 2, number at 6, a 17-byte text at 8, a text of up to 18
// bytes ended by a zero at 25.
bool takeHeader(const ByteString* block, int32_t& size, FileOutputs& out) {
    const uint8_t* b = block->data;
    size = readLittle32(b + 2);
    if (size <= 0 || size > tool::kMaxStoredFileSize) return false;
    out.number = b[6] | (b[7] << 8);
    out.header1.reset(ByteString_substring(block, 8, 17));
    int32_t length = 0;
    while (length < 18 && b[25 + length] != 0) ++length;
    out.header2.reset(ByteString_substring(block, 25, length));
    out.data.reset(ByteString_create(size + kBlock));
    return true;
}

}  // namespace

int Tool_readFile(ToolLink* link, int32_t start, int sector, ByteString** data,
                  ByteString** header1, ByteString** header2, int32_t* headerNumber,
                  const ProgressFn& progress) {
    *data = nullptr;
    *header1 = nullptr;
    *header2 = nullptr;
    const ToolCommand command = sector ? ToolCommand::ReadData : ToolCommand::ReadDataBlock;
    const uint32_t step = sector ? kBlock : 1;

    FileOutputs out;
    int32_t size = 0;
    for (int32_t k = 0;; ++k) {
        const uint32_t address = static_cast<uint32_t>(start) + static_cast<uint32_t>(k) * step;
        ByteStringPtr block =
            Tool_request(link, command, address, kBlock, kBlock, tool::kTimeoutLong);
        if (!block) return 0;
        if (k == 0 && !takeHeader(block.get(), size, out)) return 0;
        ByteString_appendBytes(out.data.get(), block->data, kBlock);
        if (progress) {
            progress(static_cast<int>(static_cast<int64_t>(k + 1) * kBlock * 100 / size));
        }
        if (k == (size - 1) / kBlock) break;
    }
    *data = out.data.release();
    *header1 = out.header1.release();
    *header2 = out.header2.release();
    *headerNumber = out.number;
    return 1;
}

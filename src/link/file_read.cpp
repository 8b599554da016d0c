// Reading a stored file out of the tool's data memory.
#include <algorithm>

#include "core/byte_string.h"
#include "link/stored_file_header.h"
#include "link/tool_commands.h"
#include "link/tool_request.h"

namespace {

constexpr int32_t kBlock = tool::kSectorSize;

}  // namespace

int Tool_readFile(ToolLink* link, int32_t start, int sector, ByteString** data,
                  ByteString** header1, ByteString** header2, int32_t* headerNumber,
                  const ProgressFn& progress) {
    *data = nullptr;
    *header1 = nullptr;
    *header2 = nullptr;
    const ToolCommand command = sector ? ToolCommand::ReadData : ToolCommand::ReadDataBlock;
    const uint32_t step = sector ? kBlock : 1;

    StoredFileHeader header;
    ByteStringPtr fileData;
    for (int32_t k = 0;; ++k) {
        const uint32_t address = static_cast<uint32_t>(start) + static_cast<uint32_t>(k) * step;
        ByteStringPtr block =
            Tool_request(link, command, address, kBlock, kBlock, tool::kTimeoutLong);
        if (!block) return 0;
        if (k == 0) {
            if (!StoredFileHeader_read(block.get(), &header)) return 0;
            fileData.reset(ByteString_create(header.size + kBlock));
        }
        const int32_t size = header.size;
        ByteString_appendBytes(fileData.get(), block->data, kBlock);
        if (progress) {
            progress(static_cast<int>(static_cast<int64_t>(k + 1) * kBlock * 100 / size));
        }
        if (k == (size - 1) / kBlock) break;
    }
    *data = fileData.release();
    *header1 = header.text1.release();
    *header2 = header.text2.release();
    *headerNumber = header.number;
    return 1;
}

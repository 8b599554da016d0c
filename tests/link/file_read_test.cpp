#include "link/frame_exchange.h"
#include "link/tool_commands.h"
#include "link/tool_protocol.h"
#include "link_fixture.h"

namespace {

StoredFile storedFile(size_t contentSize, uint16_t number, const std::string& first,
                      const std::string& second) {
    StoredFile f;
    f.header1 = first;
    f.header2 = second;
    f.number = number;
    f.content.resize(contentSize);
    for (size_t i = 0; i < contentSize; ++i) f.content[i] = static_cast<uint8_t>(i * 13 + number);
    return f;
}

struct ReadOutputs {
    ByteString* data = nullptr;
    ByteString* header1 = nullptr;
    ByteString* header2 = nullptr;
    int32_t number = -1;
    ~ReadOutputs() {
        ByteString_free(data);
        ByteString_free(header1);
        ByteString_free(header2);
    }
};

class FileReadTest : public LinkTest {
  protected:
    int read(int32_t start, int sector, ReadOutputs& out) {
        return Tool_readFile(link_.get(), start, sector, &out.data, &out.header1, &out.header2,
                             &out.number, [this](int p) { progress_.push_back(p); });
    }
    uint32_t frameAddress(size_t k) const {
        Bytes f = frame(k);
        return f[3] | (f[4] << 8) | (f[5] << 16);
    }
    std::vector<int> progress_;
};

TEST_F(FileReadTest, SingleFileOfThousandBytesComesAsTwoWholeBlocks) {
    ToolState state = ToolState_default();
    state.storedFileLayout = StoredFileLayout::Single;
    // 512 header bytes + 488 content bytes: the header announces 1000.
    state.storedFiles = {storedFile(488, 0x0203, "SA0123456789ABCDE", "Second text here!")};
    startTool(state);
    connect();

    ReadOutputs out;
    ASSERT_EQ(read(static_cast<int32_t>(tool::kStoredFileAddress), 1, out), 1);
    ASSERT_NE(out.data, nullptr);
    EXPECT_EQ(out.data->length, 1024);
    EXPECT_EQ(ByteString_str(out.header1), "SA0123456789ABCDE");
    EXPECT_EQ(ByteString_str(out.header2), "Second text here!");
    EXPECT_EQ(out.number, 0x0203);
    EXPECT_EQ(progress_, (std::vector<int>{51, 102}));

    ASSERT_EQ(frameCount(), 2u);
    EXPECT_EQ(frame(0)[2], 11);
    EXPECT_EQ(frameAddress(0), tool::kStoredFileAddress);
    EXPECT_EQ(frameAddress(1), tool::kStoredFileAddress + 512);
    const Bytes first = frame(0);
    EXPECT_EQ(hexText(Bytes(first.begin() + 6, first.begin() + 8)), "00 02");  // 512

    Bytes expected = StoredFile_headerBlock(state.storedFiles[0]);
    expected.insert(expected.end(), state.storedFiles[0].content.begin(),
                    state.storedFiles[0].content.end());
    expected.resize(1024, 0xFF);  // the rest of the last block, as the memory holds it
    EXPECT_EQ(bytesOf(out.data), expected);
}

TEST_F(FileReadTest, DirectoryFilesAreReadByBlockNumber) {
    ToolState state = ToolState_default();
    state.storedFileLayout = StoredFileLayout::Directory;
    for (uint16_t g = 0; g < 130; ++g) {
        state.storedFiles.push_back(storedFile(g == 129 ? 1300 : 10, g, "SAfile", "f"));
    }
    startTool(state);
    connect();

    // The directory: count at bytes 4-5, entry g at 8 + 4g, its block number times two.
    Bytes directory;
    for (uint32_t block = 0; block < 2; ++block) {
        ByteStringPtr reply(ByteString_create(0));
        ASSERT_EQ(ToolLink_exchange(link_.get(), reply.get(), 17,
                                    tool::kStoredDirectoryBlock + block, 512, nullptr, 0, 500, -1),
                  1);
        directory.insert(directory.end(), reply->data, reply->data + 512);
    }
    EXPECT_EQ(directory[4] | (directory[5] << 8), 130);
    const size_t entry = 8 + 4 * 129;
    const uint32_t v =
        directory[entry + 1] | (directory[entry + 2] << 8) | (directory[entry + 3] << 16);
    const uint32_t start = v >> 1;
    EXPECT_EQ(start, StoredFile_directoryBlock(state, 129));

    tool_.clearFrames();
    ReadOutputs out;
    ASSERT_EQ(read(static_cast<int32_t>(start), 0, out), 1);
    EXPECT_EQ(out.number, 129);
    EXPECT_EQ(out.data->length, 4 * 512);  // 512 + 1300 bytes
    ASSERT_EQ(frameCount(), 4u);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(frame(k)[2], 17);
        EXPECT_EQ(frameAddress(k), start + k);
    }
    EXPECT_EQ(Bytes(out.data->data + 512, out.data->data + 512 + 1300),
              state.storedFiles[129].content);
}

struct BadFileCase {
    const char* name;
    int32_t size;  // written into the header
    bool secondBlockEmpty;
};

class BadFileTest : public FileReadTest, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFileTest, FailsAndHandsNothingBack) {
    const BadFileCase& c = GetParam();
    ToolState state = ToolState_default();
    Bytes header(512, 0);
    for (int i = 0; i < 4; ++i) header[2 + i] = static_cast<uint8_t>(c.size >> (8 * i));
    state.memory.push_back({tool::kStoredFileAddress, header});
    startTool(state);
    connect();
    // The header block is answered, the next block holds no data.
    if (c.secondBlockEmpty) tool_.answerHi(11, -1, 1);

    ReadOutputs out;
    EXPECT_EQ(read(static_cast<int32_t>(tool::kStoredFileAddress), 1, out), 0);
    EXPECT_EQ(out.data, nullptr);
    EXPECT_EQ(out.header1, nullptr);
    EXPECT_EQ(out.header2, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Headers, BadFileTest,
                         ::testing::Values(BadFileCase{"AboveFiveMegabytes", 0x500001, false},
                                           BadFileCase{"ZeroSize", 0, false},
                                           BadFileCase{"NegativeSize", -512, false},
                                           BadFileCase{"SecondBlockWithoutData", 2000, true}),
                         [](const ::testing::TestParamInfo<BadFileCase>& testInfo) {
                             return testInfo.param.name;
                         });

}  // namespace

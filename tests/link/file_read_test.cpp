#include "link/tool_commands.h"
#include "link/tool_protocol.h"
#include "link_fixture.h"

namespace {

StoredFile storedFile(size_t contentSize, uint16_t number) {
    StoredFile f{"SA0123456789ABCDE", "Second text here!", number, Bytes(contentSize)};
    for (size_t i = 0; i < contentSize; ++i) f.content[i] = static_cast<uint8_t>(i * 13 + number);
    return f;
}

class FileReadTest : public LinkTest {
  protected:
    // The result, header texts and number of a read; its data is left in data_.
    std::string read(int32_t start, int sector) {
        ByteString *data = nullptr, *first = nullptr, *second = nullptr;
        int32_t number = -1;
        const int result = Tool_readFile(link_.get(), start, sector, &data, &first, &second,
                                         &number, [this](int p) { progress_.push_back(p); });
        data_.reset(data);
        ByteStringPtr header1(first), header2(second);
        auto text = [](const ByteStringPtr& s) { return s ? ByteString_str(s.get()) : "-"; };
        return std::to_string(result) + " " + text(header1) + " " + text(header2) + " " +
               std::to_string(number) + (data_ ? "" : " no data");
    }
    void TearDown() override {
        data_.reset();
        LinkTest::TearDown();
    }
    ByteStringPtr data_;
    std::vector<int> progress_;
};

// The size counts the header block; the file comes back as whole blocks up to it.
struct SizeCase {
    size_t content;
    size_t blocks;
    std::vector<int> progress;
};

class FileSizeTest : public FileReadTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(FileSizeTest, SingleFileComesAsTheBlocksItsSizeCovers) {
    const SizeCase& c = GetParam();
    ToolState state = ToolState_default();
    state.storedFileLayout = StoredFileLayout::Single;
    state.storedFiles = {storedFile(c.content, 0x0203)};
    startTool(state);
    connect();

    ASSERT_EQ(read(static_cast<int32_t>(tool::kStoredFileAddress), 1),
              "1 SA0123456789ABCDE Second text here! 515");
    EXPECT_EQ(progress_, c.progress);
    ASSERT_EQ(frameCount(), c.blocks);
    EXPECT_EQ(hexText(frame(0)), "3B 01 0B 00 00 6C 00 02 58 58 29 01");
    EXPECT_EQ(frameAddress(frame(c.blocks - 1)), tool::kStoredFileAddress + 512 * (c.blocks - 1));

    Bytes expected = StoredFile_headerBlock(state.storedFiles[0]);
    expected.insert(expected.end(), state.storedFiles[0].content.begin(),
                    state.storedFiles[0].content.end());
    expected.resize(512 * c.blocks, 0xFF);  // the rest of the last block, as the memory holds it
    EXPECT_EQ(bytesOf(data_.get()), expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileSizeTest,
                         ::testing::Values(SizeCase{488, 2, {51, 102}},  // 1000 bytes
                                           SizeCase{512, 2, {50, 100}},  // exactly two blocks
                                           SizeCase{0, 1, {100}}));      // the header alone

TEST_F(FileReadTest, DirectoryFilesAreReadByBlockNumber) {
    ToolState state = ToolState_default();
    state.storedFileLayout = StoredFileLayout::Directory;
    for (uint16_t g = 0; g < 130; ++g) state.storedFiles.push_back(storedFile(g * 10, g));
    startTool(state);
    connect();
    const auto start = static_cast<uint32_t>(StoredFile_directoryBlock(state, 129));
    ASSERT_EQ(read(static_cast<int32_t>(start), 0), "1 SA0123456789ABCDE Second text here! 129");
    ASSERT_EQ(data_->length, 4 * 512);  // 512 + 1290 bytes
    for (size_t k = 0; k < 4; ++k) EXPECT_EQ(frameAddress(frame(k)), start + k);
    EXPECT_EQ(frame(0)[2], 17);
    EXPECT_EQ(Bytes(data_->data + 512, data_->data + 512 + 1290), state.storedFiles[129].content);
}

TEST_F(FileReadTest, BadFilesFailAndHandNothingBack) {
    ToolState state = ToolState_default();
    // Headers announcing: above 5 MB, nothing, a negative size, and a file whose second
    // block comes back without data.
    const std::vector<int32_t> sizes = {0x500001, 0, -512, 2000};
    for (size_t i = 0; i < sizes.size(); ++i) {
        Bytes header(512, 0);
        for (int b = 0; b < 4; ++b) header[2 + b] = static_cast<uint8_t>(sizes[i] >> (8 * b));
        state.memory.push_back({(i + 1) * 65536, header});
    }
    startTool(state);
    connect();
    tool_.answerHi(11, -1, 1 + 3);  // the three refusals each read one block
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(read(static_cast<int32_t>((i + 1) * 65536), 1).substr(0, 6), "0 - - ")
            << sizes[i];
        EXPECT_EQ(data_, nullptr) << sizes[i];
    }
}

}  // namespace

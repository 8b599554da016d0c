// Memory-only programming and the backup upload, against the virtual tool, the bench
// server and its real FTP server.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "link/tool_protocol.h"
#include "workflows/update_bench.h"

using catalogue::Bytes;
using catalogue::checksummedBlocks;
using catalogue::patternBytes;
using catalogue::writtenBlocks;

namespace {

uint32_t little32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

class MemoryOnly : public UpdateBench {
  protected:
    void runMemoryOnly() {
        ASSERT_TRUE(startBench());
        ASSERT_TRUE(identify());
        ui.scriptAnswers({kSecondButton});
        delegate->programMemOnlyClicked();
        delegate->waitIdle();
    }
    bool erased() {
        for (const auto& frame : rig.tool.frames()) {
            if (frame.size() > 2 && frame[0] == ';' && frame[2] == 5) return true;
        }
        return false;
    }
    bool succeededMemories() {
        auto boxes = ui.boxes();
        return !boxes.empty() && boxes.back().title == "Programming succeed";
    }
};

TEST_F(MemoryOnly, KindOneIsErasedEvenWithCountZeroThenWritten) {
    installed = makeRelease("1.23", "1.23", nullptr, {catalogue::cpakArea(1, 40, 0)});
    const Bytes a = patternBytes(3000, 1), b = patternBytes(700, 2);
    addUserFile("a.bin", checksummedBlocks(a));
    addUserFile("b.bin", checksummedBlocks(b));
    runMemoryOnly();
    ASSERT_TRUE(succeededMemories()) << ui.text(Line::Msg);
    EXPECT_EQ(ui.text(Line::Msg), "Programming Extra File 2/2");
    EXPECT_TRUE(erased());
    EXPECT_EQ(rig.reportTags(), std::vector<std::string>{"_FFO"});
    const Bytes directory = rig.tool.dataMemory(40 * 65536, 12);
    EXPECT_EQ(little32(directory, 0), 2u);
    EXPECT_EQ(little32(directory, 4), 5124u);
    EXPECT_EQ(little32(directory, 8), 5132u);
    EXPECT_EQ(rig.tool.dataMemory(5124 * 512, 4096), writtenBlocks(a, 2048));
    EXPECT_EQ(rig.tool.dataMemory(5132 * 512, 2048), writtenBlocks(b, 2048));
    EXPECT_TRUE(ui.enabled(Control::Find));
    EXPECT_TRUE(ui.enabled(Control::ProgramMemories));
    EXPECT_TRUE(delegate->forceFlag());
}

TEST_F(MemoryOnly, OtherKindIsWrittenBySectorWithoutErase) {
    installed = makeRelease("1.23", "1.23", nullptr, {catalogue::cpakArea(2, 3000, 5)});
    const Bytes a = patternBytes(100, 3);
    addUserFile("a.bin", checksummedBlocks(a));
    runMemoryOnly();
    ASSERT_TRUE(succeededMemories());
    EXPECT_FALSE(erased());
    bool sectorWrites = false;
    for (const auto& frame : rig.tool.frames()) {
        sectorWrites |= frame.size() > 2 && frame[0] == ';' && frame[2] == 16;
    }
    EXPECT_TRUE(sectorWrites);
    EXPECT_EQ(little32(rig.tool.dataMemory(3000 * 512, 8), 4), 3004u);
    EXPECT_EQ(rig.tool.dataMemory(3004 * 512, 2048), writtenBlocks(a, 2048));
}

TEST_F(MemoryOnly, EmptyListStillSucceeds) {
    installed = makeRelease("1.23", "1.23", nullptr, {catalogue::cpakArea(1, 40, 2)});
    runMemoryOnly();
    EXPECT_TRUE(succeededMemories());
    EXPECT_TRUE(erased());
    EXPECT_EQ(rig.reportTags(), std::vector<std::string>{"_FFO"});
    EXPECT_TRUE(rig.tool.records().empty());
}

TEST_F(MemoryOnly, FailingSecondFileIsNamed) {
    installed = makeRelease("1.23", "1.23", nullptr, {catalogue::cpakArea(2, 3000, 0)});
    addUserFile("a.bin", checksummedBlocks(patternBytes(100, 3)));
    userFiles.push_back("missing.bin");
    runMemoryOnly();
    EXPECT_EQ(ui.text(Line::Msg), "Extra File 2 Not Programmed Correctly");
    EXPECT_EQ(rig.reportTags(), std::vector<std::string>{"_Failed_Custom_Mem_2"});
    EXPECT_TRUE(ui.enabled(Control::Find));
    EXPECT_TRUE(ui.enabled(Control::Program));
}

TEST_F(MemoryOnly, NoAreaDoesNothing) {
    runMemoryOnly();
    EXPECT_TRUE(ui.boxes().size() == 1);  // the question only
    EXPECT_TRUE(rig.reportTags().empty());
}

// Backups: what the FTP server received equals what the tool stores.
class BackupUpload : public UpdateBench {
  protected:
    StoredFile file(int i, size_t size) {
        StoredFile f;
        f.header1 = "SA-BACKUP-" + std::to_string(1000000 + i);
        f.header2 = "Car " + std::to_string(i);
        f.number = static_cast<uint16_t>(i);
        f.content = patternBytes(size, static_cast<uint32_t>(100 + i));
        return f;
    }
    void setUp(int kind, StoredFileLayout layout, std::vector<StoredFile> files, int onServer) {
        installed = makeRelease("1.23", "1.23", nullptr,
                                {catalogue::cpakArea(static_cast<uint8_t>(kind), 40, 0)});
        state.storedFileLayout = layout;
        state.storedFiles = std::move(files);
        toolRecord["userFileCount"] = onServer;
    }
    void upload() {
        ASSERT_TRUE(startBench());
        ASSERT_TRUE(identify());
        ASSERT_TRUE(ui.shown(Control::UploadReadFiles));
        ui.scriptAnswers({kSecondButton});
        delegate->uploadFilesClicked();
        delegate->waitIdle();
    }
    Bytes uploaded() {
        std::ifstream in(rig.server.uploadDir() / "77.pak", std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> registrations() {
        std::vector<std::string> numbers;
        for (const auto& r : rig.requests()) {
            if (r.value("word", "") == "uploadUserFile|") numbers.push_back(r["args"][5]);
        }
        return numbers;
    }
    void expectStoredAt(uint64_t address, size_t contentSize) {
        const Bytes bytes = uploaded();
        ASSERT_GE(bytes.size(), 512 + contentSize);
        EXPECT_EQ(bytes, rig.tool.dataMemory(address, bytes.size()));
    }
};

TEST_F(BackupUpload, SingleFileOfKindOne) {
    setUp(1, StoredFileLayout::Single, {file(1, 3000)}, 0);
    upload();
    EXPECT_EQ(ui.text(Line::Msg), "File uploaded to server successfully");
    EXPECT_FALSE(ui.shown(Control::UploadReadFiles));
    EXPECT_EQ(delegate->gnGlobalFileCount(), 1);
    EXPECT_EQ(registrations(), std::vector<std::string>{"1"});
    expectStoredAt(tool::kStoredFileAddress, 3000);
}

TEST_F(BackupUpload, DirectoryFromTheFirstFileTheServerLacks) {
    setUp(2, StoredFileLayout::Directory, {file(0, 600), file(1, 900), file(2, 1200)}, 1);
    upload();
    EXPECT_EQ(ui.text(Line::Msg), "File uploaded to server successfully");
    EXPECT_EQ(countMessage("Downloading File 2/3 from Tool..."), 1);
    EXPECT_EQ(countMessage("Downloading File 3/3 from Tool..."), 1);
    EXPECT_EQ(registrations(), (std::vector<std::string>{"2", "3"}));
    expectStoredAt(StoredFile_directoryBlock(state, 2) * 512, 1200);
}

TEST_F(BackupUpload, SecondDirectoryBlockIsReadForFile130) {
    std::vector<StoredFile> files;
    for (int i = 0; i < 131; ++i) files.push_back(file(i, 40));
    setUp(2, StoredFileLayout::Directory, files, 130);
    upload();
    EXPECT_EQ(ui.text(Line::Msg), "File uploaded to server successfully");
    EXPECT_EQ(registrations(), std::vector<std::string>{"131"});
    expectStoredAt(StoredFile_directoryBlock(state, 130) * 512, 40);
}

TEST_F(BackupUpload, RegistrationRetriedOnce) {
    setUp(1, StoredFileLayout::Single, {file(1, 800)}, 0);
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    Misbehaviour m;
    m.dropFirstRegistration = true;
    rig.server.setMisbehaviour(m);
    ui.scriptAnswers({kSecondButton});
    delegate->uploadFilesClicked();
    delegate->waitIdle();
    EXPECT_EQ(countMessage("File upload failed. Uploading again."), 1);
    EXPECT_EQ(ui.text(Line::Msg), "File uploaded to server successfully");
}

TEST_F(BackupUpload, RegistrationFailingTwiceFailsTheFile) {
    setUp(1, StoredFileLayout::Single, {file(1, 800)}, 0);
    upload();  // started, then refused from here on
    Misbehaviour m;
    m.refusedWords = {"uploadUserFile|"};
    rig.server.setMisbehaviour(m);
    ui.scriptAnswers({kSecondButton});
    delegate->setGnGlobalFileCount(0);
    delegate->uploadFilesClicked();
    delegate->waitIdle();
    EXPECT_EQ(countMessage("File upload failed. Uploading again."), 2);
    EXPECT_EQ(ui.text(Line::Msg), "File upload failed");
    EXPECT_EQ(ui.boxes().back().message, "File upload to server failed");
    EXPECT_EQ(delegate->gnGlobalFileCount(), 1);
}

TEST_F(BackupUpload, FailedReadUploadsNothing) {
    setUp(1, StoredFileLayout::Single, {file(1, 800)}, 0);
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    rig.tool.silenceCommand(11);
    ui.scriptAnswers({kSecondButton});
    delegate->uploadFilesClicked();
    delegate->waitIdle();
    EXPECT_EQ(ui.text(Line::Msg), "File upload failed");
    EXPECT_EQ(countMessage("File upload failed. Uploading again."), 0);
    EXPECT_TRUE(registrations().empty());
    EXPECT_TRUE(uploaded().empty());
}

TEST_F(BackupUpload, NothingLeftToUploadIsAFailure) {
    setUp(2, StoredFileLayout::Directory, {file(0, 600), file(1, 900)}, 1);
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    delegate->setGnGlobalFileCount(2);
    ui.scriptAnswers({kSecondButton});
    delegate->uploadFilesClicked();
    delegate->waitIdle();
    EXPECT_EQ(ui.text(Line::Msg), "File upload failed");
    EXPECT_TRUE(registrations().empty());
}

}  // namespace

// Memory-only programming and the backup upload, against the virtual tool, the bench
// server and its real FTP server.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "link/tool_protocol.h"
#include "support/update_bench.h"

namespace {

class MemoryOnly : public UpdateBench {
  protected:
    void TestBody() override {}
    void runMemoryOnly() {
        ASSERT_TRUE(startBench());
        ASSERT_TRUE(identify());
        answerYes(&AppDelegate::programMemOnlyClicked);
    }
    // A frame of `command` went to the tool.
    bool sent(uint8_t command) {
        return std::ranges::any_of(rig.tool.frames(), [&](const auto& f) {
            return f.size() > 2 && f[0] == ';' && f[2] == command;
        });
    }
};

// The extra-file area of the installed firmware is rewritten: kind 1 erased first, even
// with an erase count of zero; other kinds written by sector.
struct MemoryCase {
    const char* name;
    uint8_t kind;
    uint32_t start, eraseCount;
    std::vector<size_t> sizes;
    std::vector<uint32_t> sectors;  // where the files land
};

class MemoryOnlyRun : public MemoryOnly, public ::testing::WithParamInterface<MemoryCase> {};

TEST_P(MemoryOnlyRun, RewritesTheExtraFiles) {
    const MemoryCase& c = GetParam();
    installed =
        makeRelease("1.23", "1.23", nullptr, {catalogue::cpakArea(c.kind, c.start, c.eraseCount)});
    std::vector<Bytes> contents;
    for (size_t i = 0; i < c.sizes.size(); ++i) {
        contents.push_back(patternBytes(c.sizes[i], static_cast<uint32_t>(i + 1)));
        addUserFile("f" + std::to_string(i), checksummedBlocks(contents.back()));
    }
    runMemoryOnly();
    ASSERT_EQ(ui.boxes().back().title, "Programming succeed") << ui.text(Line::Msg);
    EXPECT_EQ(sent(5), c.kind == 1);  // erase
    if (c.kind != 1) {
        EXPECT_TRUE(sent(16));  // sector writes
    }
    if (c.kind == 1) {
        EXPECT_EQ(rig.reportTags(), std::vector<std::string>{"_FFO"});
    }
    if (c.sizes.empty()) {
        EXPECT_TRUE(rig.tool.records().empty());  // nothing to write
    }
    const Bytes directory = rig.tool.dataMemory(uint64_t{c.start} * (c.kind == 1 ? 65536 : 512),
                                                4 + 4 * c.sizes.size());
    if (!c.sizes.empty()) {
        EXPECT_EQ(little32(directory, 0), c.sizes.size());
    }
    for (size_t i = 0; i < contents.size(); ++i) {
        EXPECT_EQ(little32(directory, 4 + 4 * i), c.sectors[i]);
        const Bytes expected = writtenBlocks(contents[i], 2048);
        EXPECT_EQ(rig.tool.dataMemory(uint64_t{c.sectors[i]} * 512, expected.size()), expected);
    }
    EXPECT_TRUE(ui.enabled(Control::Find));
    EXPECT_TRUE(ui.enabled(Control::ProgramMemories));
    EXPECT_TRUE(delegate->forceFlag());
}

INSTANTIATE_TEST_SUITE_P(
    Areas, MemoryOnlyRun,
    ::testing::Values(MemoryCase{"KindOne", 1, 40, 0, {3000, 700}, {5124, 5132}},
                      MemoryCase{"OtherKind", 2, 3000, 5, {100}, {3004}},
                      MemoryCase{"EmptyList", 1, 40, 2, {}, {}}),
    [](const auto& test) { return std::string(test.param.name); });

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
    EXPECT_EQ(ui.boxes().size(), 1u);  // the question only
    EXPECT_TRUE(rig.reportTags().empty());
}

// Backups: what the FTP server received equals what the tool stores.
class BackupUpload : public UpdateBench {
  protected:
    void TestBody() override {}
    static StoredFile file(int i, size_t size) {
        return {"SA-BACKUP-" + std::to_string(1000000 + i), "Car " + std::to_string(i),
                static_cast<uint16_t>(i), patternBytes(size, static_cast<uint32_t>(100 + i))};
    }
    void setUp(int kind, std::vector<StoredFile> files, int onServer) {
        installed = makeRelease("1.23", "1.23", nullptr,
                                {catalogue::cpakArea(static_cast<uint8_t>(kind), 40, 0)});
        state.storedFileLayout = kind == 1 ? StoredFileLayout::Single : StoredFileLayout::Directory;
        state.storedFiles = std::move(files);
        toolRecord["userFileCount"] = onServer;
    }
    void upload(const std::function<void(BenchRig&)>& fault = {}) {
        ASSERT_TRUE(startBench());
        ASSERT_TRUE(identify());
        ASSERT_TRUE(ui.shown(Control::UploadReadFiles));
        if (fault) fault(rig);
        answerYes(&AppDelegate::uploadFilesClicked);
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
};

// From the first file the server lacks to the last; a directory's 130th file lies in its
// second block.
struct BackupCase {
    const char* name;
    int kind, files, onServer;
    size_t size, growth;  // of file i: size + growth * i
    std::vector<std::string> registered;
};

class BackupRun : public BackupUpload, public ::testing::WithParamInterface<BackupCase> {};

TEST_P(BackupRun, UploadsWhatTheToolStores) {
    const BackupCase& c = GetParam();
    std::vector<StoredFile> files;
    for (int i = 0; i < c.files; ++i) {
        files.push_back(file(c.kind == 1 ? 1 : i, c.size + c.growth * static_cast<size_t>(i)));
    }
    setUp(c.kind, files, c.onServer);
    upload();
    EXPECT_EQ(ui.text(Line::Msg), "File uploaded to server successfully");
    EXPECT_FALSE(ui.shown(Control::UploadReadFiles));
    EXPECT_EQ(delegate->gnGlobalFileCount(), c.files);
    EXPECT_EQ(registrations(), c.registered);
    for (const auto& number : c.registered) {
        if (c.kind == 2) {
            const std::string text =
                "Downloading File " + number + "/" + std::to_string(c.files) + " from Tool...";
            EXPECT_EQ(countMessage(text), 1) << text;
        }
    }
    const Bytes bytes = uploaded();
    const uint64_t address = c.kind == 1 ? tool::kStoredFileAddress
                                         : StoredFile_directoryBlock(state, c.files - 1) * 512;
    ASSERT_GE(bytes.size(), 512 + files.back().content.size());
    EXPECT_EQ(bytes, rig.tool.dataMemory(address, bytes.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, BackupRun,
    ::testing::Values(BackupCase{"SingleFileOfKindOne", 1, 1, 0, 3000, 0, {"1"}},
                      BackupCase{"DirectoryFromFirstMissing", 2, 3, 1, 600, 300, {"2", "3"}},
                      BackupCase{"File130InSecondBlock", 2, 131, 130, 40, 0, {"131"}}),
    [](const auto& test) { return std::string(test.param.name); });

struct UploadFault {
    const char* name;
    std::function<void(BenchRig&)> fault;
    int retries;  // "Uploading again." texts
    const char* message;
};

class UploadFailure : public BackupUpload, public ::testing::WithParamInterface<UploadFault> {};

TEST_P(UploadFailure, RegistersOnlyWhatWasRead) {
    const UploadFault& c = GetParam();
    setUp(1, {file(1, 800)}, 0);
    upload(c.fault);
    EXPECT_EQ(countMessage("File upload failed. Uploading again."), c.retries);
    EXPECT_EQ(ui.text(Line::Msg), c.message);
    if (c.retries == 2) {
        EXPECT_EQ(ui.boxes().back().message, "File upload to server failed");
    }
    if (c.retries == 0) {
        EXPECT_TRUE(registrations().empty());
        EXPECT_TRUE(uploaded().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, UploadFailure,
                         ::testing::Values(UploadFault{"RegistrationRetriedOnce",
                                                       [](BenchRig& r) {
                                                           Misbehaviour m;
                                                           m.dropFirstRegistration = true;
                                                           r.server.setMisbehaviour(m);
                                                       },
                                                       1, "File uploaded to server successfully"},
                                           UploadFault{"RegistrationRefusedTwice",
                                                       [](BenchRig& r) {
                                                           Misbehaviour m;
                                                           m.refusedWords = {"uploadUserFile|"};
                                                           r.server.setMisbehaviour(m);
                                                       },
                                                       2, "File upload failed"},
                                           UploadFault{
                                               "FailedReadUploadsNothing",
                                               [](BenchRig& r) { r.tool.silenceCommand(11); }, 0,
                                               "File upload failed"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(BackupUpload, NothingLeftToUploadIsAFailure) {
    setUp(2, {file(0, 600), file(1, 900)}, 1);
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    delegate->setGnGlobalFileCount(2);
    answerYes(&AppDelegate::uploadFilesClicked);
    EXPECT_EQ(ui.text(Line::Msg), "File upload failed");
    EXPECT_TRUE(registrations().empty());
}

}  // namespace

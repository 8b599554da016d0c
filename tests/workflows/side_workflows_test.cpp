// Memory-only programming and the backup upload, against the virtual tool, the bench
// server and its real FTP server.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "link/tool_protocol.h"
#include "support/update_bench.h"

namespace {

// The extra-file area of the installed firmware rewritten: kind 1 erased first, even with
// an erase count of zero; other kinds written by sector.
struct MemoryCase {
    const char* name;
    int kind;  // of the CPAK entry; 0: none
    uint32_t start, eraseCount;
    const char* sizes;    // of the extra files; 0 stands for one the server lacks
    const char* sectors;  // where they land
    const char* outcome;  // the last box, or the message line
    const char* tags;
    bool erased;
};

class MemoryOnly : public UpdateBench, public ::testing::WithParamInterface<MemoryCase> {
  protected:
    void TestBody() override {}
};

TEST_P(MemoryOnly, RewritesTheExtraFiles) {
    const MemoryCase& c = GetParam();
    std::vector<packwriter::FileGroup> groups;
    if (c.kind != 0) {
        groups.push_back(catalogue::cpakArea(static_cast<uint8_t>(c.kind), c.start, c.eraseCount));
    }
    installed = makeRelease("1.23", "1.23", nullptr, groups);
    const std::vector<std::string> sizes = words(c.sizes), sectors = words(c.sectors);
    std::vector<Bytes> contents;
    for (size_t i = 0; i < sizes.size(); ++i) {
        contents.push_back(patternBytes(std::stoul(sizes[i]), static_cast<uint32_t>(i + 1)));
        if (sizes[i] == "0") userFiles.push_back("missing.bin");
        if (sizes[i] != "0") addUserFile("f" + std::to_string(i), checksummedBlocks(contents[i]));
    }
    // Rows without a "filename" column: no file, no entry, only the count.
    if (sectors.empty() && !sizes.empty()) {
        userFiles = {{"columns", {"name"}}, {"rows", {{"x"}, {"y"}}}};
    }
    ASSERT_TRUE(startBench());
    ASSERT_TRUE(identify());
    answerYes(&AppDelegate::programMemOnlyClicked);

    EXPECT_TRUE(ui.boxes().back().title == c.outcome || ui.text(Line::Msg) == c.outcome)
        << ui.text(Line::Msg);
    EXPECT_EQ(tags(), c.tags);
    ASSERT_EQ(history().size(), 1u);
    EXPECT_EQ(history()[0]["workflow"], "program-memories");
    EXPECT_EQ(history()[0].value("reportTag", ""), c.tags);
    EXPECT_EQ(framesOf(5), c.erased ? 1 : 0);
    EXPECT_TRUE(ui.enabled(Control::Find));
    EXPECT_TRUE(ui.enabled(Control::ProgramMemories));
    EXPECT_TRUE(delegate->forceFlag());
    if (std::string(c.tags) != "_FFO") return;
    if (sizes.empty()) {
        EXPECT_EQ(framesOf(4) + framesOf(16), 0);  // not even the directory
        return;
    }
    Bytes directory{static_cast<uint8_t>(sizes.size()), 0, 0, 0};
    for (const auto& sector : sectors) {
        for (int k = 0; k < 4; ++k)
            directory.push_back(static_cast<uint8_t>(std::stoul(sector) >> (8 * k)));
    }
    const uint64_t base = uint64_t{c.start} * (c.kind == 1 ? 65536 : 512);
    EXPECT_EQ(rig.tool.dataMemory(base, directory.size()), directory);
    for (size_t i = 0; i < sectors.size(); ++i) {
        const Bytes expected = writtenBlocks(contents[i], 2048);
        EXPECT_EQ(rig.tool.dataMemory(std::stoull(sectors[i]) * 512, expected.size()), expected);
    }
}

const char* const kDone = "Programming succeed";

INSTANTIATE_TEST_SUITE_P(
    Areas, MemoryOnly,
    ::testing::Values(
        MemoryCase{"KindOne", 1, 40, 0, "3000 700", "5124 5132", kDone, "_FFO", true},
        MemoryCase{"OtherKind", 2, 3000, 5, "100", "3004", kDone, "_FFO", false},
        MemoryCase{"EmptyList", 1, 40, 2, "", "", kDone, "_FFO", true},
        MemoryCase{"RowsWithoutNames", 2, 2000, 0, "1 1", "", kDone, "_FFO", false},
        MemoryCase{"FailingSecondFile", 2, 3000, 0, "100 0", "3004",
                   "Extra File 2 Not Programmed Correctly", "_Failed_Custom_Mem_2", false},
        // 2^24 blocks: the area's first sector would overflow, and lies past any address.
        MemoryCase{"AreaBeyondTheTool", 1, 1u << 24, 0, "100", "3004",
                   "Extra File 0 Not Programmed Correctly", "_Failed_Custom_Mem_0", false},
        MemoryCase{"NoArea", 0, 0, 0, "100", "3004", "Programming memory files", "", false}),
    [](const auto& test) { return std::string(test.param.name); });

// Backups: from the first file the server lacks to the last; what the FTP server received
// equals what the tool stores.
enum class Backup {
    none,
    hiAtFind,         // the directory header read at Find Device answered "HI"
    hiAtUpload,       // the first directory block answered "HI"
    hiAtSecondBlock,  // the second one
    countBelowZero,   // a count below 0 handed to the upload
    nothingLeft,      // every file already on the server
    dropOne,          // the first registration is dropped
    refuseAll,        // every registration is refused
    readFails,
};

struct BackupCase {
    const char* name;
    int kind, files, onServer;
    Backup fault;
    bool offered;            // the upload button after Find Device
    const char* registered;  // file numbers sent for registration
    const char* message;     // null: the upload ends without a word
    int retries = 0;         // "Uploading again." texts
    bool tls = false;        // HTTPS and FTP by explicit TLS
};

class BackupUpload : public UpdateBench, public ::testing::WithParamInterface<BackupCase> {
  protected:
    void TestBody() override {}
    Bytes uploaded(int user) {
        std::ifstream in(rig.server.uploadDir() / (std::to_string(user) + ".pak"),
                         std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

TEST_P(BackupUpload, UploadsWhatTheServerLacks) {
    const BackupCase& c = GetParam();
    installed = makeRelease("1.23", "1.23", nullptr,
                            {catalogue::cpakArea(static_cast<uint8_t>(c.kind), 40, 0)});
    state.storedFileLayout = c.kind == 1 ? StoredFileLayout::Single : StoredFileLayout::Directory;
    for (int i = 0; i < c.files; ++i) {
        const int n = c.kind == 1 ? 1 : i;
        state.storedFiles.push_back({"SA-BACKUP-" + std::to_string(1000000 + n),
                                     "Car " + std::to_string(n), static_cast<uint16_t>(n),
                                     patternBytes(c.files > 3 ? 40u : 600u + 300u * i, 100u + n)});
    }
    toolRecord["userFileCount"] = c.onServer;
    // The plain uploads go for a user whose number is negative.
    const int user = c.fault == Backup::none && c.offered ? -5 : 77;
    toolRecord["userNumber"] = user;
    rig.tls = c.tls;
    ASSERT_TRUE(startBench());
    if (c.fault == Backup::hiAtFind) rig.tool.answerHi(17, 1);
    ASSERT_TRUE(identify());
    ASSERT_EQ(ui.shown(Control::UploadReadFiles), c.offered);
    if (!c.offered) return;
    Misbehaviour server;
    server.dropFirstRegistration = c.fault == Backup::dropOne;
    if (c.fault == Backup::refuseAll) server.refusedWords = {"uploadUserFile|"};
    rig.server.setMisbehaviour(server);
    if (c.fault == Backup::hiAtUpload) rig.tool.answerHi(17, 1);
    if (c.fault == Backup::hiAtSecondBlock) rig.tool.answerHi(17, 1, 1);
    if (c.fault == Backup::readFails) rig.tool.silenceCommand(11);
    if (c.fault == Backup::countBelowZero) delegate->setGnGlobalFileCount(-3);
    if (c.fault == Backup::nothingLeft) delegate->setGnGlobalFileCount(c.files);
    const size_t boxes = ui.boxes().size();
    answerYes(&AppDelegate::uploadFilesClicked);
    // Held from the question to the run's end: no second workflow can reach the link.
    EXPECT_EQ(std::ranges::count(ui.calls(), "hold"), 1);
    EXPECT_EQ(ui.calls().back(), "release");

    std::vector<std::string> registered;
    for (const auto& r : rig.requests()) {
        if (r.value("word", "") != "uploadUserFile|") continue;
        EXPECT_EQ(r["args"][0], std::to_string(user));
        registered.push_back(r["args"][5]);
    }
    EXPECT_EQ(registered, words(c.registered));
    EXPECT_EQ(countMessage("File upload failed. Uploading again."), c.retries);
    ASSERT_EQ(history().size(), 1u);
    EXPECT_EQ(history()[0]["workflow"], "upload-backups");
    if (c.message == nullptr) {
        EXPECT_EQ(ui.boxes().size(), boxes + 1);  // the question only
        return;
    }
    EXPECT_EQ(ui.text(Line::Msg), c.message);
    if (std::string(c.message) == "File upload failed") {
        EXPECT_EQ(ui.boxes().back().message, "File upload to server failed");
        EXPECT_TRUE(ui.shown(Control::UploadReadFiles));
        EXPECT_EQ(uploaded(user).empty(), c.retries == 0);
        return;
    }
    EXPECT_FALSE(ui.shown(Control::UploadReadFiles));
    EXPECT_EQ(delegate->gnGlobalFileCount(), c.files);
    for (const auto& number : registered) {
        EXPECT_EQ(countMessage("Downloading File " + number + "/" + std::to_string(c.files) +
                               " from Tool..."),
                  1);
    }
    const Bytes bytes = uploaded(user);
    const uint64_t address = c.kind == 1 ? tool::kStoredFileAddress
                                         : StoredFile_directoryBlock(state, c.files - 1) * 512;
    ASSERT_GE(bytes.size(), 512 + state.storedFiles.back().content.size());
    EXPECT_EQ(bytes, rig.tool.dataMemory(address, bytes.size()));
}

const char* const kUploaded = "File uploaded to server successfully";
const char* const kFailed = "File upload failed";
using enum Backup;

INSTANTIATE_TEST_SUITE_P(
    Layouts, BackupUpload,
    ::testing::Values(
        BackupCase{"SingleFileOfKindOne", 1, 1, 0, none, true, "1", kUploaded},
        BackupCase{"DirectoryOverTls", 2, 3, 1, none, true, "2 3", kUploaded, 0, true},
        BackupCase{"DirectoryFromFirstMissing", 2, 3, 1, none, true, "2 3", kUploaded},
        BackupCase{"File130InSecondBlock", 2, 131, 130, none, true, "131", kUploaded},
        BackupCase{"ServerCountBelowZero", 2, 3, -3, none, false, "", nullptr},
        BackupCase{"ServerCountAboveTheTools", 2, 3, 4, none, false, "", nullptr},
        BackupCase{"HiToTheHeader", 2, 3, 1, hiAtFind, false, "", nullptr},
        BackupCase{"HiToTheDirectory", 2, 3, 1, hiAtUpload, true, "", nullptr},
        BackupCase{"HiToItsSecondBlock", 2, 131, 130, hiAtSecondBlock, true, "", nullptr},
        BackupCase{"CountBelowZeroReadsNothing", 2, 3, 1, countBelowZero, true, "", kFailed},
        BackupCase{"NothingLeftToUpload", 2, 2, 1, nothingLeft, true, "", kFailed},
        BackupCase{"RegistrationRetriedOnce", 1, 1, 0, dropOne, true, "1 1", kUploaded, 1},
        BackupCase{"RegistrationRefusedTwice", 1, 1, 0, refuseAll, true, "1 1", kFailed, 2},
        BackupCase{"FailedReadUploadsNothing", 1, 1, 0, readFails, true, "", kFailed}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace

// Scrambled requests, replies and downloads, against the bench server.
#include <zlib.h>

#include <chrono>

#include "bench_fixture.h"
#include "core/pad_tables.h"
#include "package/firmware_package.h"
#include "server/request_scrambler.h"
#include "server/server_request.h"

namespace {

struct TraceLine {
    unsigned byte, pad, out;
};

std::vector<TraceLine> parseTrace(const std::string& text) {
    std::vector<TraceLine> lines;
    std::istringstream in(text);
    TraceLine t;
    while (in >> t.byte >> t.pad >> t.out) lines.push_back(t);
    return lines;
}

std::string crcText(const std::string& bytes) {
    return std::to_string(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string text(const ByteString* s) {
    return ByteString_str(s);
}

}  // namespace

class ScrambleIndices : public BenchTest,
                        public ::testing::WithParamInterface<std::pair<int32_t, std::vector<int>>> {
};

// The pad entry of each request byte, read back from the diagnostic; the bench decodes it.
TEST_P(ScrambleIndices, FollowTheKeyAndStep) {
    auto [key, indices] = GetParam();
    Misbehaviour m;
    m.keyText = std::to_string(key);
    misbehave(m);
    std::string trace;
    session()->trace = [&](std::string_view line) { trace += line; };
    ByteStringPtr request = makeByteString("versionUpd|1.3");
    ByteStringPtr reply(ServerRequest_send(session(), request.get()));

    auto lines = parseTrace(trace);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_TRUE(trace.starts_with("118 "));
    for (size_t i = 0; i < indices.size(); ++i) {
        EXPECT_EQ(lines[i].byte, static_cast<uint8_t>(request->data[i]));
        EXPECT_EQ(lines[i].pad, requestPadTable[static_cast<size_t>(indices[i])]) << i;
        EXPECT_EQ(lines[i].out, lines[i].byte ^ lines[i].pad);
    }
    EXPECT_EQ(lastRequest()["request"], "versionUpd|1.3");
    EXPECT_EQ(text(reply.get()), "|NO|1.3|");
}

using Indices = std::pair<int32_t, std::vector<int>>;
INSTANTIATE_TEST_SUITE_P(WorkedKeys, ScrambleIndices,
                         ::testing::Values(Indices{0, {0, 1, 2, 3}}, Indices{2047, {2047, 0, 1, 2}},
                                           Indices{4095, {2047, 1, 3, 5}},
                                           Indices{-1, {2047, 2046, 2045}},
                                           Indices{INT32_MIN, {0}}));

TEST(RequestScrambler, WritesTwoUpperCaseDigits) {
    ByteStringPtr request =
        makeByteString(std::string(1, static_cast<char>(10 ^ requestPadTable[0])));
    ByteStringPtr encoded(RequestScrambler_encode(request.get(), 0, {}));
    EXPECT_EQ(ByteString_str(encoded.get()), "%0A");
}

TEST_F(BenchTest, KeyTextGoesBackAsReceived) {
    Misbehaviour m;
    m.keyText = "123\n";
    misbehave(m);
    ByteStringPtr request = makeByteString("versionUpd|1.3");
    ByteStringPtr reply(ServerRequest_send(session(), request.get()));
    EXPECT_EQ(lastRequest()["key"], "123\n");
    EXPECT_EQ(lastRequest()["request"], "versionUpd|1.3");
}

struct DownloadCase {
    const char* name;
    std::string reply;
    bool accepted;
};

class CheckDownload : public ::testing::TestWithParam<DownloadCase> {};
const std::string kFile = "ab|cd";

TEST_P(CheckDownload, VerifiesLayoutAndChecksum) {
    uint32_t live = ByteString_liveCount();
    {
        ByteStringPtr file(ServerRequest_checkDownload(makeByteString(GetParam().reply).get()));
        EXPECT_EQ(file ? ByteString_str(file.get()) : "<null>",
                  GetParam().accepted ? kFile : "<null>");
    }
    EXPECT_EQ(ByteString_liveCount(), live);
}

const std::string kTrailer = kFile + "123456789";
// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, CheckDownload, ::testing::Values(
    DownloadCase{"whole", "|SUCCESS|" + crcText(kFile) + "|" + kTrailer, true},
    DownloadCase{"changed_byte", "|SUCCESS|" + crcText(kFile) + "|ab|cD123456789", false},
    DownloadCase{"leading_zero", "|SUCCESS|0" + crcText(kFile) + "|" + kTrailer, false},
    DownloadCase{"text_before", "x|SUCCESS|" + crcText(kFile) + "|" + kTrailer, false},
    DownloadCase{"short_trailer", "|SUCCESS|" + crcText("") + "|12345678", false},
    DownloadCase{"failure", "|FAILURE|0|123456789", false},
    DownloadCase{"tiny", "|SUCC", false}, DownloadCase{"empty", "", false}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

TEST_F(BenchTest, DownloadsCatalogueFilesWholeOrNotAtAll) {
    ByteStringPtr firmware(ServerRequest_downloadFirmware(session(), 812));
    ASSERT_NE(firmware, nullptr);
    EXPECT_EQ(ByteString_str(firmware.get()), patternBytes(70000, 812));
    EXPECT_EQ(lastRequest()["args"][0], "ktxFirmwares/812.gfr");

    ByteStringPtr userFile(ServerRequest_download(session(), "ktxUserFiles/a.bin"));
    ASSERT_NE(userFile, nullptr);
    EXPECT_EQ(userFile->length, 3000);
    ByteStringPtr plain(ServerRequest_download(session(), "KTX2_BLEVersion.txt"));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(ByteString_str(plain.get()), "2.1");

    // Missing, outside the catalogue, corrupted or empty: nothing is handed on.
    EXPECT_EQ(ByteStringPtr(ServerRequest_download(session(), "ktxUserFiles/none.bin")), nullptr);
    EXPECT_EQ(ByteStringPtr(ServerRequest_download(session(), "../records.json")), nullptr);
    Misbehaviour m;
    m.corruptCrc = true;
    misbehave(m);
    EXPECT_EQ(ByteStringPtr(ServerRequest_downloadFirmware(session(), 812)), nullptr);
    m = {};
    m.emptyAnswers = true;
    misbehave(m);
    EXPECT_EQ(ByteStringPtr(ServerRequest_downloadFirmware(session(), 812)), nullptr);
}

TEST_F(BenchTest, SlowButLiveDownloadIsNotCut) {
    Misbehaviour m;
    m.trickleMs = 150;  // 1500 bytes in about 3.5 s, longer than the low-speed window
    misbehave(m);
    writeFile(catalogue_ / "slow.bin", patternBytes(1500, 5));
    ByteStringPtr file(ServerRequest_download(session(), "slow.bin"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ByteString_str(file.get()), patternBytes(1500, 5));
}

class FirmwareDescription : public BenchTest {
  protected:
    void SetUp() override {
        BenchTest::SetUp();
        record_.reset(FirmwarePackage_new());
        record_->serialNumber = 100200;
        record_->hardwareId = 513;
        record_->linkCode = 2;
        FirmwarePackage_setText(&record_->deviceFamily, ByteString_fromText("KTX"));
        FirmwarePackage_setText(&record_->firmwareVersion, ByteString_fromText("1.02.03"));
        record_->variantCode = 4;
    }
    void TearDown() override {
        record_.reset();
        BenchTest::TearDown();
    }
    std::string describe(int emergency) {
        ByteStringPtr d(ServerRequest_firmwareDescription(session(), record_.get(), emergency));
        return d ? ByteString_str(d.get()) : "<null>";
    }
    FirmwarePackagePtr record_;
};

TEST_F(FirmwareDescription, ByIdElseByVersionElseBySerialNumber) {
    record_->firmwareId = 812;
    EXPECT_EQ(describe(0), kGfi);
    EXPECT_EQ(lastRequest()["request"], "download|ktxFirmwares/812.gfi");
    for (int32_t id : {0, 0x2020, -3}) {  // not read from the tool: asked by version
        record_->firmwareId = id;
        EXPECT_EQ(describe(0), kGfi);
        EXPECT_EQ(lastRequest()["request"], "firmware|KTX|1.02.03|4");
        EXPECT_EQ(record_->firmwareId, 812);
    }
    record_->firmwareId = 0;
    EXPECT_EQ(describe(1), kGfi);
    EXPECT_EQ(lastRequest()["request"], "firmEmergency|100200|513|2");
    EXPECT_EQ(record_->firmwareId, 812);
}

TEST_F(FirmwareDescription, RefusalsLeaveTheIdAlone) {
    Misbehaviour m;
    m.refusedWords = {"firmware|", "firmEmergency|"};
    misbehave(m);
    EXPECT_EQ(describe(0), "<null>");
    EXPECT_EQ(describe(1), "<null>");
    EXPECT_EQ(record_->firmwareId, 0);
    record_->serialNumber = 999;  // unknown to the server
    misbehave({});
    EXPECT_EQ(describe(1), "<null>");
}

TEST_F(BenchTest, UserFileQueries) {
    FirmwarePackagePtr record(FirmwarePackage_new());
    record->userNumber = 77;
    record->hardwareId = 513;
    ServerSession_setPath(session(), kQueryScript);
    EXPECT_EQ(ServerRequest_userFileCount(session(), record.get()), 2);
    EXPECT_EQ(lastRequest()["request"], "userReadFileCount|77|513");
    EXPECT_EQ(lastRequest()["script"], kQueryScript);
    EXPECT_EQ(ServerRequest_userFileVersion(session(), "SA0001", "BACKUP", 3), 1);
    EXPECT_EQ(lastRequest()["request"], "userReadFileVersion|SA0001|BACKUP|3");
    EXPECT_EQ(ServerRequest_userFileVersion(session(), "SA0001", "BACKUP", 4), 0);
    record->userNumber = 5;
    EXPECT_EQ(ServerRequest_userFileCount(session(), record.get()), -1);

    Misbehaviour m;
    m.refusedWords = {"userReadFileVersion|"};
    misbehave(m);
    EXPECT_EQ(ServerRequest_userFileVersion(session(), "SA0001", "BACKUP", 3), -1);
    // Sent to the wrong script, the server refuses.
    ServerSession_setPath(session(), kUpdaterScript);
    record->userNumber = 77;
    EXPECT_EQ(ServerRequest_userFileCount(session(), record.get()), -1);
}

TEST_F(BenchTest, UpdaterVersionCheck) {
    EXPECT_EQ(ServerRequest_updaterOutdated(session()), 0);
    EXPECT_EQ(lastRequest()["request"], "versionUpd|1.3");
    Misbehaviour m;
    m.outdatedUpdater = true;
    misbehave(m);
    EXPECT_EQ(ServerRequest_updaterOutdated(session()), 1);
    m.outdatedUpdater = false;
    m.refusedWords = {"versionUpd|"};
    misbehave(m);
    EXPECT_EQ(ServerRequest_updaterOutdated(session()), 0);
}

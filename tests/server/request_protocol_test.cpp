// Scrambled requests, replies and downloads, against the bench server.
#include <zlib.h>

#include <sstream>

#include "bench_fixture.h"
#include "core/pad_tables.h"
#include "package/firmware_package.h"
#include "server/request_scrambler.h"
#include "server/server_request.h"

namespace {

std::string crcText(const std::string& bytes) {
    return std::to_string(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

struct KeyCase {
    std::string keyText;
    std::vector<int> indices;  // pad entries of the first request bytes
};

class ScrambleIndices : public BenchTest, public ::testing::WithParamInterface<KeyCase> {};

// The pad entries are read back from the diagnostic; the bench decodes the request, and the
// key text goes back exactly as it came.
TEST_P(ScrambleIndices, FollowTheKeyAndStep) {
    const KeyCase& c = GetParam();
    Misbehaviour m;
    m.keyText = c.keyText;
    misbehave(m);
    std::string trace;
    session()->trace = [&](std::string_view line) { trace += line; };
    ByteStringPtr request = makeByteString("versionUpd|1.3");
    ByteStringPtr reply(ServerRequest_send(session(), request.get()));

    std::istringstream lines(trace);
    for (int32_t i = 0; i < request->length; ++i) {
        unsigned byte = 0, pad = 0, out = 0;
        ASSERT_TRUE(lines >> byte >> pad >> out) << i;
        EXPECT_EQ(byte, request->data[i]);
        const auto k = static_cast<size_t>(i);
        EXPECT_EQ(pad, k < c.indices.size() ? requestPadTable[size_t(c.indices[k])] : pad) << i;
        EXPECT_EQ(out, byte ^ pad);
    }
    EXPECT_EQ(lastRequest()["key"], c.keyText);
    EXPECT_EQ(lastRequest()["request"], "versionUpd|1.3");
    EXPECT_EQ(textOf(reply.get()), "|NO|1.3|");
}

INSTANTIATE_TEST_SUITE_P(
    WorkedKeys, ScrambleIndices,
    ::testing::Values(KeyCase{"0", {0, 1, 2, 3}}, KeyCase{"2047", {2047, 0, 1, 2}},
                      KeyCase{"4095", {2047, 1, 3, 5}}, KeyCase{"123\n", {123, 247}},
                      KeyCase{"-1", {2047, 2046, 2045}}, KeyCase{"-2147483648", {0}}));

TEST(RequestScrambler, WritesTwoUpperCaseDigits) {
    ByteStringPtr request =
        makeByteString(std::string(1, static_cast<char>(10 ^ requestPadTable[0])));
    ByteStringPtr encoded(RequestScrambler_encode(request.get(), 0, {}));
    EXPECT_EQ(ByteString_str(encoded.get()), "%0A");
}

struct DownloadCase {
    const char* name;
    std::string reply;
    bool accepted;
};

class CheckDownload : public ::testing::TestWithParam<DownloadCase> {};
const std::string kFile = "ab|cd";

TEST_P(CheckDownload, VerifiesLayoutAndChecksum) {
    ByteStringPtr file(ServerRequest_checkDownload(makeByteString(GetParam().reply).get()));
    EXPECT_EQ(textOf(file.get()), GetParam().accepted ? kFile : "<null>");
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
    EXPECT_EQ(textOf(firmware.get()), patternBytes(70000, 812));
    EXPECT_EQ(lastRequest()["args"][0], "ktxFirmwares/812.gfr");
    ByteStringPtr plain(ServerRequest_download(session(), "KTX2_BLEVersion.txt"));
    EXPECT_EQ(textOf(plain.get()), "2.1");

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
    EXPECT_EQ(textOf(file.get()), patternBytes(1500, 5));
}

TEST_F(BenchTest, FirmwareDescriptionByIdElseByVersionElseBySerialNumber) {
    FirmwarePackagePtr record(FirmwarePackage_new());
    record->serialNumber = 100200;
    record->hardwareId = 513;
    record->linkCode = 2;
    FirmwarePackage_setText(&record->deviceFamily, ByteString_fromText("KTX"));
    FirmwarePackage_setText(&record->firmwareVersion, ByteString_fromText("1.02.03"));
    record->variantCode = 4;
    auto describe = [&](int emergency) {
        ByteStringPtr d(ServerRequest_firmwareDescription(session(), record.get(), emergency));
        return textOf(d.get());
    };

    record->firmwareId = 812;
    EXPECT_EQ(describe(0), kGfi);
    EXPECT_EQ(lastRequest()["request"], "download|ktxFirmwares/812.gfi");
    for (int32_t id : {0, 0x2020, -3}) {  // not read from the tool: asked by version
        record->firmwareId = id;
        EXPECT_EQ(describe(0), kGfi);
        EXPECT_EQ(lastRequest()["request"], "firmware|KTX|1.02.03|4");
        EXPECT_EQ(record->firmwareId, 812);
    }
    record->firmwareId = 0;
    EXPECT_EQ(describe(1), kGfi);
    EXPECT_EQ(lastRequest()["request"], "firmEmergency|100200|513|2");
    EXPECT_EQ(record->firmwareId, 812);

    // Refusals leave the id alone.
    record->firmwareId = 0;
    Misbehaviour m;
    m.refusedWords = {"firmware|", "firmEmergency|"};
    misbehave(m);
    EXPECT_EQ(describe(0), "<null>");
    EXPECT_EQ(describe(1), "<null>");
    EXPECT_EQ(record->firmwareId, 0);
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
    m.replies["userReadFileVersion|"] = "|YES|\n";
    misbehave(m);
    EXPECT_EQ(ServerRequest_userFileVersion(session(), "SA0001", "BACKUP", 3), -1);
    // Sent to the wrong script, the server refuses.
    ServerSession_setPath(session(), kUpdaterScript);
    record->userNumber = 77;
    EXPECT_EQ(ServerRequest_userFileCount(session(), record.get()), -1);
}

struct VersionCase {
    const char* name;
    std::string reply;
    int outdated;
};

class UpdaterVersion : public BenchTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(UpdaterVersion, IsOutdatedOnlyWhenTheServerSaysNoToAHigherVersion) {
    Misbehaviour m;
    m.replies["versionUpd|"] = GetParam().reply;
    misbehave(m);
    EXPECT_EQ(ServerRequest_updaterOutdated(session()), GetParam().outdated);
    EXPECT_EQ(lastRequest()["request"], "versionUpd|1.3");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, UpdaterVersion, ::testing::Values(
    VersionCase{"Same", "|NO|1.3|", 0}, VersionCase{"Next", "|NO|1.4|", 1},
    VersionCase{"OneNine", "|NO|1.9|", 1}, VersionCase{"TwoZero", "|NO|2.0|", 1},
    VersionCase{"OnlyNoDecides", "|YES|2.0|", 0},
    // Too short to hold a digit, a point and a digit: no news, and nothing read past it.
    VersionCase{"TwoBytes", "|NO|9.|", 0}, VersionCase{"OneByte", "|NO|9|", 0},
    VersionCase{"Empty", "|NO||", 0}, VersionCase{"Unterminated", "|NO|2.0", 0},
    VersionCase{"NoReply", "", 0},
    // Bytes that are no digits name no version, however large their codes.
    VersionCase{"NotDigits", "|NO|\xff.\x01|", 0}, VersionCase{"Letters", "|NO|a.b|", 0}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

}  // namespace

#include <algorithm>
#include <string>
#include <vector>

#include "core/pad_tables.h"
#include "package_test_support.h"

namespace {

using namespace packagetest;
using namespace packwriter;

// Loads into a fresh record; null when the load reports failure.
FirmwarePackagePtr load(int32_t kind, const Bytes& bytes, int scrambled) {
    ByteStringPtr b = toByteString(bytes);
    FirmwarePackagePtr p(FirmwarePackage_new());
    if (FirmwarePackage_load(kind, p.get(), b.get(), scrambled) != 1) return nullptr;
    return p;
}

FirmwarePackagePtr loadImage(const Image& image) {
    return load(PACKAGE_IMAGE, writeImage(image), 1);
}

// Why a load of unscrambled bytes failed; none when it succeeded.
PackageLoadFailure loadOutcome(const Bytes& bytes) {
    ByteStringPtr b = toByteString(bytes);
    FirmwarePackagePtr p(FirmwarePackage_new());
    PackageLoadFailure failure = PackageLoadFailure::unreadable;
    int result = FirmwarePackage_load(PACKAGE_IMAGE, p.get(), b.get(), 0, &failure);
    EXPECT_EQ(result == 1, failure == PackageLoadFailure::none);
    return failure;
}

Section section(const std::string& name, const std::string& data, bool compressed = false) {
    Section s{name, bytesOf(data)};
    s.compressed = compressed;
    return s;
}

// A release with both bootloaders, a firmware, two file records (one name-only) and extra
// names; from format 7 on the second memory file lives in an external section.
Image sampleImage(int format) {
    Image image{format, 0, "GM", "General Motors: trucks", "Spring release", {}, {}};
    image.records.push_back(Boot{0, 0x08000000, "1.14", section("boot0", "boot zero", true)});
    image.records.push_back(Boot{1, 0x08004000, "2.07", section("boot1", "second boot")});
    image.records.push_back(Firmware{"3.21.05", 517, 0xBEEF, 0x7A, section("fw", "fw data", true)});
    FileGroup group{9, 200, 7, {}, "", {}};
    group.entries.push_back(FileEntry{"MEM1", "flash", 12, 34, 1, section("m1", "one")});
    Section second = section("m2", "two", true);
    if (format >= 7) second.externalName = "m2.bin";
    group.entries.push_back(FileEntry{"MEM2", "", 56, 78, 0, second});
    image.records.push_back(group);
    image.records.push_back(FileGroup{4, 30, 2, {}, "LIST", {}});
    image.records.push_back(ExtraNames{{"HELP", "LOGO"}});
    return image;
}

// The sample release as an image or an info of format v reads it.
std::string sampleSummary(int v, bool image) {
    auto section = [image](const std::string& s) { return image ? "{" + s + "}" : ""; };
    auto n = [](int value) { return std::to_string(value); };
    const bool wide = v >= 6;
    const int noVersion = image ? 1 : 0;
    const bool versions = image ? v >= 3 : v >= 2;
    return std::string("fsn=GM fln=General Motors: trucks des=") +
           (v >= 4 ? "Spring release" : "General Motors: trucks") + " boot=1.14@8000000" +
           section("boot0/1/0//boot zero") + " boot=2.07@8004000" +
           section("boot1/0/0//second boot") + " fw=3.21.05/" + (v >= 3 ? "517" : "1") + "/" +
           (image && v >= 5 ? "48879" : "0") + section("fw/1/0//fw data") + " MEM1/flash/" +
           n(wide ? 9 : 1) + "/200/7/" + n(versions ? 12 : noVersion) + "/" + n(v >= 5 ? 34 : 0) +
           "/" + n(image && wide) + section("m1/0/0//one") + " MEM2//" + n(wide ? 9 : 2) +
           "/200/7/" + n(versions ? 56 : noVersion) + "/" + n(v >= 5 ? 78 : 0) + "/0" +
           section(v >= 7 ? "m2/1/1/m2.bin/" : "m2/1/0//two") + " LIST//" + n(wide ? 4 : 1) +
           "/30/2/0/0/0 names=;" + (image ? "BOOT0;BOOT1;FIRMWARE;" : "") +
           "MEM1;MEM2;LIST;HELP;LOGO;";
}

int32_t hasFile(const FirmwarePackage* p, const char* name) {
    return FirmwarePackage_hasFile(p, makeByteString(name).get());
}

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, ImageAndInfoDescribeTheReleaseAsTheFormatCarriesIt) {
    const int v = GetParam();
    Image image = sampleImage(v);
    FirmwarePackagePtr info = load(PACKAGE_INFO, bytesOf(writeInfo(describe(image))), 0);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(summary(info.get()), sampleSummary(v, false));
    // Fields only an image or the tool sets.
    EXPECT_EQ(info->fileCount + info->bootVersionNumber + info->firmwareBuild, 0);
    EXPECT_TRUE(info->firmwareVersion == nullptr && info->bootVersion == nullptr);

    image.formatByteBits = v % 2 == 1 ? 0xF1 : 0;  // bits outside the version are ignored
    image.records.insert(image.records.begin() + 2, RawBytes{{0x00, 'Z', 0xFF, 'b'}});
    image.records.push_back(RawBytes{{'?'}});  // unknown record bytes are skipped one by one
    FirmwarePackagePtr p = loadImage(image);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(summary(p.get()), sampleSummary(v, true));
    EXPECT_EQ(p->fileCount, 3);
    EXPECT_EQ(str(p->bootVersion) + "/" + str(p->firmwareVersion), "1.14/3.21.05");
    EXPECT_EQ(p->bootVersionNumber, 114);
    EXPECT_EQ(p->firmwareBuild, v >= 3 ? 517 : 1);
    EXPECT_EQ(p->files[1]->section->data == nullptr, v >= 7);  // external
    EXPECT_EQ(hasFile(p.get(), "BOOT"), 0);                    // whole entries only
    EXPECT_EQ(hasFile(p.get(), "BOOT0"), 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip, ::testing::Range(1, 9));

TEST(ImageReader, TheFirstBootRecordGivesTheBootVersionALaterOneTheSlot) {
    Image image = sampleImage(8);
    image.records = {Boot{1, 0, "1.20", section("b1", "x")}, Boot{0, 0, "1.14", section("b0", "y")},
                     Boot{1, 5, "1.33", section("b1", "z")}};
    FirmwarePackagePtr p = loadImage(image);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->bootVersion), "1.20");
    EXPECT_EQ(p->bootVersionNumber, 120);
    EXPECT_EQ(summary(p.get()),
              "fsn=GM fln=General Motors: trucks des=Spring release "
              "boot=1.14@0{b0/0/0//y} boot=1.33@5{b1/0/0//z} names=;BOOT1;BOOT0;BOOT1;");
    EXPECT_EQ(hasFile(p.get(), "BOOT1"), 2);
    image.records = {Boot{0, 0, "2", section("b", "x")}};  // not read past a short name
    p = loadImage(image);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->bootVersionNumber, 200);
}

TEST(ImageReader, OnlyCompressionByteOneIsInflated) {
    Section raw = section("raw", "kept as stored");
    raw.compressionByte = 2;
    Section corrupt = section("bad", "", true);
    corrupt.stored = bytesOf("000000000004096not a zlib stream");
    Image image = sampleImage(8);
    image.records = {Boot{0, 0, "1.00", raw}, Boot{1, 0, "1.00", corrupt}};
    FirmwarePackagePtr p = loadImage(image);
    ASSERT_NE(p, nullptr);
    // A section that does not decompress is kept empty, without the buffer it announced; the
    // load still succeeds.
    EXPECT_EQ(summary(p.get()),
              "fsn=GM fln=General Motors: trucks des=Spring release "
              "boot=1.00@0{raw/2/0//kept as stored} boot=1.00@0{bad/1/0//} names=;BOOT0;BOOT1;");
    ASSERT_NE(p->boot[1]->section->data, nullptr);
    EXPECT_EQ(p->boot[1]->section->data->capacity, 0);
}

TEST(ImageReader, ALoadAddsToARecordAlreadyFilledAndLeavesTheBytes) {
    Image second = sampleImage(8);
    second.fsn = "VW";
    FileGroup many{1, 0, 0, std::vector<FileEntry>(48, FileEntry{"F", "", 1, 0, 0, {}}), "", {}};
    second.records = {Boot{0, 9, "1.50", section("b", "new")}, many};
    FirmwarePackagePtr p(FirmwarePackage_new());
    for (const Bytes& bytes : {writeImage(sampleImage(8)), writeImage(second)}) {
        ByteStringPtr b = toByteString(bytes);
        ASSERT_EQ(FirmwarePackage_load(PACKAGE_IMAGE, p.get(), b.get(), 1), 1);
        EXPECT_EQ(toBytes(b.get()), bytes);
    }
    // The boot version stays that of the first load.
    EXPECT_EQ(str(p->fsn) + " " + str(p->boot[0]->name) + " " + str(p->bootVersion),
              "VW 1.50 1.14");
    // Files go after those already there; from the 51st on they are released.
    EXPECT_EQ(str(p->files[2]->name) + str(p->files[3]->name) + str(p->files[49]->name), "LISTFF");
    EXPECT_EQ(FirmwarePackage_load(3, p.get(), toByteString({}).get(), 0), 0);
}

TEST(ImageReader, DescrambleWalksThePadTableFromItsStartByItsStep) {
    ByteStringPtr zeros = toByteString(Bytes(5000, 0));
    ByteStringPtr pad(FirmwarePackage_descramble(zeros.get()));
    ASSERT_EQ(pad->length, 5000);
    for (int i : {0, 1, 2, 2047, 2048, 4999}) {
        EXPECT_EQ(pad->data[i], packagePadTable[(packagePadStart + i * packagePadStep) % 2048]);
    }
}

// Where a cut of a valid image falls decides the load: at a record boundary the image is
// complete as far as it goes; anywhere else a record runs past the end of the data.
class TruncatedImage : public ::testing::TestWithParam<int> {};

TEST_P(TruncatedImage, LoadsOnlyWhenCutAtARecordBoundary) {
    Image image = sampleImage(GetParam());
    Bytes full = writePlainImage(image);
    std::vector<size_t> boundaries;
    Image prefix = image;
    for (size_t r = 0; r <= image.records.size(); ++r) {
        prefix.records.assign(image.records.begin(), image.records.begin() + static_cast<long>(r));
        boundaries.push_back(writePlainImage(prefix).size());
    }
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        Bytes part(full.begin(), full.begin() + static_cast<long>(cut));
        bool boundary = std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end();
        EXPECT_EQ(load(PACKAGE_IMAGE, part, 0) != nullptr, boundary) << "cut at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, TruncatedImage, ::testing::Values(1, 3, 5, 6, 8));

// Cuts of the truncation test cannot make these: a slot no tool has, a length that wraps, and
// a file too large to be read at all (one at the limit is read).
TEST(ImageReader, ABootSlotAboveOneAHugeLengthOrAHugeFileFailsTheLoad) {
    for (Bytes body : {Bytes{'B', 2, 0, 0, 0, 0, 1, '1', 0, 0, 1, 's', 1, 0, 0, 0, 'd'},
                       Bytes{'F', 0, 1, 'n', 1, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 'x'}}) {
        body.insert(body.begin(), {0x0E, 0, 0, 0, 0});  // format 8, empty texts, no files
        EXPECT_EQ(loadOutcome(body), PackageLoadFailure::unreadable);
    }
    EXPECT_EQ(loadOutcome(Bytes(kPackageDataLimit + 1, 0)), PackageLoadFailure::tooLarge);
    EXPECT_NE(loadOutcome(Bytes(kPackageDataLimit, 0)), PackageLoadFailure::tooLarge);
}

// Sections of one image: halves of the limit as genuine zlib streams of zeros, blocks that
// announce a length but hold no zlib stream, and stored bytes.
struct LimitCase {
    const char* what;
    int halves, junkBlocks;
    int64_t junkLength;
    int storedBytes;
    bool loads;
};

class DataLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(DataLimit, BoundsWhatOneImageMayHold) {
    const LimitCase& c = GetParam();
    FileGroup group{2, 0, 0, {}, "", {}};
    Section half = section("half", "", true);
    half.data.resize(kPackageDataLimit / 2);
    Section junk = section("junk", "", true);
    std::string prefix = std::to_string(c.junkLength);
    junk.stored = bytesOf(std::string(15 - prefix.size(), '0') + prefix);
    group.entries.insert(group.entries.end(), c.halves, FileEntry{"H", "", 1, 0, 0, half});
    group.entries.insert(group.entries.end(), c.junkBlocks, FileEntry{"J", "", 1, 0, 0, junk});
    Section stored = section("stored", std::string(c.storedBytes, 's'));
    if (c.storedBytes > 0) group.entries.push_back(FileEntry{"S", "", 1, 0, 0, stored});
    Image image = sampleImage(8);
    image.records = {group};
    EXPECT_EQ(loadOutcome(writePlainImage(image)),
              c.loads ? PackageLoadFailure::none : PackageLoadFailure::tooLarge);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DataLimit,
    ::testing::Values(LimitCase{"up_to_the_limit", 2, 0, 0, 0, true},
                      LimitCase{"a_stored_byte_past_it", 2, 0, 0, 1, false},
                      LimitCase{"failing_blocks_count_too", 0, 3, 12 << 20, 0, false},
                      LimitCase{"six_blocks_of_256_MiB", 0, 6, 256 << 20, 0, false}),
    [](const auto& test) { return std::string(test.param.what); });

}  // namespace

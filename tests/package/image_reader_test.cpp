#include <string>
#include <vector>

#include "core/pad_tables.h"
#include "package/package_section.h"
#include "package_test_support.h"

namespace {

using namespace packagetest;
using namespace packwriter;

std::string str(const ByteString* s) {
    return ByteString_str(s);
}

void expectSection(const PackageSection* s, const Section& written, int format) {
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(str(s->name), written.name);
    EXPECT_EQ(s->compressed, written.compressed ? 1u : 0u);
    if (written.externalName) {
        EXPECT_EQ(s->external, 1u);
        EXPECT_EQ(s->data, nullptr);
        EXPECT_EQ(str(s->externalName), *written.externalName);
    } else {
        EXPECT_EQ(s->external, 0u);
        EXPECT_EQ(s->externalName, nullptr);
        EXPECT_EQ(toBytes(s->data), written.data) << "format " << format;
    }
}

class ImageRoundTrip : public LeakCheckedWithParam<int> {};

TEST_P(ImageRoundTrip, EveryFieldComesBackAsTheFormatCarriesIt) {
    const int v = GetParam();
    Image image = sampleImage(v);
    FirmwarePackagePtr p = loadImage(image);
    ASSERT_NE(p, nullptr);

    EXPECT_EQ(str(p->fsn), "GM");
    EXPECT_EQ(str(p->fln), "General Motors: trucks");
    EXPECT_EQ(str(p->des), v >= 4 ? "Spring release" : "General Motors: trucks");
    EXPECT_EQ(p->fileCount, 3);

    const auto& boot0 = std::get<Boot>(image.records[0]);
    const auto& boot1 = std::get<Boot>(image.records[1]);
    ASSERT_NE(p->boot[0], nullptr);
    ASSERT_NE(p->boot[1], nullptr);
    EXPECT_EQ(str(p->boot[0]->name), "1.14");
    EXPECT_EQ(p->boot[0]->address, 0x08000000u);
    expectSection(p->boot[0]->section, boot0.section, v);
    EXPECT_EQ(str(p->boot[1]->name), "2.07");
    EXPECT_EQ(p->boot[1]->address, 0x08004000u);
    expectSection(p->boot[1]->section, boot1.section, v);
    EXPECT_EQ(str(p->bootVersion), "1.14");
    EXPECT_EQ(p->bootVersionNumber, 114);

    const auto& fw = std::get<Firmware>(image.records[2]);
    ASSERT_NE(p->firmware, nullptr);
    EXPECT_EQ(str(p->firmware->name), "3.21.05");
    EXPECT_EQ(p->firmware->build, v >= 3 ? 517u : 1u);
    EXPECT_EQ(p->firmware->value2, v >= 5 ? 0xBEEFu : 0u);
    expectSection(p->firmware->section, fw.section, v);
    EXPECT_EQ(str(p->firmwareVersion), "3.21.05");
    EXPECT_EQ(p->firmwareBuild, v >= 3 ? 517 : 1);

    const auto& group = std::get<FileGroup>(image.records[3]);
    const bool wide = v >= 6;
    expectFiles(p.get(),
                {{"MEM1", "flash", wide ? 9 : 1, 200, 7, v >= 3 ? 12 : 1, v >= 5 ? 34 : 0, wide},
                 {"MEM2", "", wide ? 9 : 2, 200, 7, v >= 3 ? 56 : 1, v >= 5 ? 78 : 0, 0},
                 // The name-only entry: no target, no section, no versions.
                 {"LIST", "", wide ? 4 : 1, 30, 2, 0, 0, 0}});
    expectSection(p->files[0]->section, group.entries[0].section, v);
    expectSection(p->files[1]->section, group.entries[1].section, v);
    EXPECT_EQ(p->files[2]->section, nullptr);
    EXPECT_EQ(str(p->nameList), ";BOOT0;BOOT1;FIRMWARE;MEM1;MEM2;LIST;HELP;LOGO;");
}

INSTANTIATE_TEST_SUITE_P(Formats, ImageRoundTrip, ::testing::Range(1, 9));

class ImageReader : public LeakChecked {};

// The reader takes the version from bits 1 to 3 only.
TEST_F(ImageReader, FormatByteBitsOutsideTheVersionAreIgnored) {
    for (auto [format, bits, formatByte] : {std::tuple{1, 0x00, 0x00}, std::tuple{8, 0x00, 0x0E},
                                            std::tuple{1, 0xF1, 0xF1}, std::tuple{8, 0xF1, 0xFF}}) {
        Image image = sampleImage(format);
        image.formatByteBits = static_cast<uint8_t>(bits);
        Bytes plain = writePlainImage(image);
        ASSERT_EQ(plain[0], formatByte);
        FirmwarePackagePtr p = load(PACKAGE_IMAGE, plain, 0);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->firmware->build, format >= 3 ? 517u : 1u);
        EXPECT_EQ(p->files[0]->checksumTrailer, format >= 6 ? 1 : 0);
    }
}

TEST_F(ImageReader, TheFirstBootRecordGivesTheBootVersion) {
    Image image = sampleImage(8);
    image.records = {Boot{1, 0, "1.20", section("b1", "x")}, Boot{0, 0, "1.14", section("b0", "y")},
                     Boot{1, 5, "1.33", section("b1", "z")}};
    FirmwarePackagePtr p = loadImage(image);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->bootVersion), "1.20");
    EXPECT_EQ(p->bootVersionNumber, 120);
    // A later record for the same slot replaces the earlier one.
    EXPECT_EQ(str(p->boot[1]->name), "1.33");
    EXPECT_EQ(p->boot[1]->address, 5u);
    EXPECT_EQ(str(p->nameList), ";BOOT1;BOOT0;BOOT1;");
    // A short boot name is not read past its end.
    image.records = {Boot{0, 0, "2", section("b", "x")}};
    p = loadImage(image);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->bootVersionNumber, 200);
}

TEST_F(ImageReader, UnknownRecordBytesAreSkippedOneByOne) {
    Image image = sampleImage(8);
    image.records.insert(image.records.begin() + 2, RawBytes{{0x00, 'Z', 0xFF, 'b'}});
    image.records.push_back(RawBytes{{'?'}});
    FirmwarePackagePtr p = loadImage(image);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->nameList), ";BOOT0;BOOT1;FIRMWARE;MEM1;MEM2;LIST;HELP;LOGO;");
}

TEST_F(ImageReader, OnlyCompressionByteOneIsInflated) {
    Image image = sampleImage(8);
    Section raw = section("raw", "kept as stored");
    raw.compressionByte = 2;
    Section corrupt = section("bad", "");
    corrupt.compressed = true;
    corrupt.stored = bytesOf("000000000000005not a zlib stream");
    image.records = {Boot{0, 0, "1.00", raw}, Boot{1, 0, "1.00", corrupt}};
    FirmwarePackagePtr p = loadImage(image);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->boot[0]->section->compressed, 2u);
    EXPECT_EQ(toBytes(p->boot[0]->section->data), bytesOf("kept as stored"));
    // A section that does not decompress is kept empty; the load still succeeds.
    ASSERT_NE(p->boot[1]->section->data, nullptr);
    EXPECT_EQ(p->boot[1]->section->data->length, 0);
}

TEST_F(ImageReader, FilesBeyondFiftyAreReleased) {
    Image image = sampleImage(8);
    FileGroup group{1, 0, 0, {}, "", {}};
    for (int i = 0; i < 60; ++i) {
        group.entries.push_back(
            FileEntry{"F" + std::to_string(i), "t", 1, 0, 0, section("s", "d")});
    }
    image.records = {group};
    FirmwarePackagePtr p = loadImage(image);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->files[49]->name), "F49");
    EXPECT_EQ(ByteString_countOccurrences(makeByteString(";").get(), p->nameList), 61);
}

TEST_F(ImageReader, ALoadAddsToARecordAlreadyFilled) {
    FirmwarePackagePtr p(FirmwarePackage_new());
    ByteStringPtr first = toByteString(writeImage(sampleImage(8)));
    Image second = sampleImage(8);
    second.fsn = "VW";
    second.records = {Boot{0, 9, "1.50", section("b", "new")}, FileGroup{1, 0, 0, {}, "EXTRA", {}}};
    ByteStringPtr secondBytes = toByteString(writeImage(second));
    ASSERT_EQ(FirmwarePackage_load(PACKAGE_IMAGE, p.get(), first.get(), 1), 1);
    ASSERT_EQ(FirmwarePackage_load(PACKAGE_IMAGE, p.get(), secondBytes.get(), 1), 1);
    EXPECT_EQ(str(p->fsn), "VW");
    EXPECT_EQ(str(p->boot[0]->name), "1.50");
    EXPECT_EQ(str(p->bootVersion), "1.14");  // already set by the first load
    EXPECT_EQ(str(p->files[3]->name), "EXTRA");
    EXPECT_EQ(str(p->nameList), ";BOOT0;EXTRA;");
}

TEST_F(ImageReader, LoadLeavesTheCallersBytesAloneAndRefusesOtherKinds) {
    Bytes scrambled = writeImage(sampleImage(8));
    ByteStringPtr bytes = toByteString(scrambled);
    FirmwarePackagePtr p(FirmwarePackage_new());
    EXPECT_EQ(FirmwarePackage_load(PACKAGE_IMAGE, p.get(), bytes.get(), 1), 1);
    EXPECT_EQ(toBytes(bytes.get()), scrambled);
    FirmwarePackagePtr q(FirmwarePackage_new());
    EXPECT_EQ(FirmwarePackage_load(3, q.get(), bytes.get(), 1), 0);
    EXPECT_EQ(FirmwarePackage_load(0, q.get(), bytes.get(), 0), 0);
}

TEST_F(ImageReader, DescrambleWalksThePadTableFromItsStartByItsStep) {
    ByteStringPtr zeros(ByteString_create(5000));
    for (int i = 0; i < 5000; ++i) ByteString_appendByte(zeros.get(), 0);
    ByteStringPtr pad(FirmwarePackage_descramble(zeros.get()));
    ASSERT_EQ(pad->length, 5000);
    for (int i : {0, 1, 2, 2047, 2048, 4999}) {
        EXPECT_EQ(pad->data[i], packagePadTable[(packagePadStart + i * packagePadStep) % 2048]);
    }
    ByteStringPtr back(FirmwarePackage_descramble(pad.get()));
    EXPECT_EQ(ByteString_equals(back.get(), zeros.get()), 1);
}

// Where a cut of a valid image falls decides the load: at a record boundary the image is
// complete as far as it goes; anywhere else a record runs past the end of the data.
class TruncatedImage : public LeakCheckedWithParam<int> {};

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

struct MalformedImage {
    const char* what;
    Bytes body;  // records after a format 8 header
};

class MalformedImages : public LeakCheckedWithParam<MalformedImage> {};

TEST_P(MalformedImages, FailTheLoad) {
    Bytes plain = {0x0E, 0, 0, 0, 0};  // format 8, empty FSN, FLN, DES, file count 0
    plain.insert(plain.end(), GetParam().body.begin(), GetParam().body.end());
    EXPECT_EQ(load(PACKAGE_IMAGE, plain, 0), nullptr);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kStoredSection = {0, 0, 1, 's', 1, 0, 0, 0, 'd'};

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedImages,
    ::testing::Values(
        MalformedImage{"boot slot 2", concat({{'B', 2, 0, 0, 0, 0, 1, '1'}, kStoredSection})},
        MalformedImage{"boot slot 255", concat({{'B', 255, 0, 0, 0, 0, 1, '1'}, kStoredSection})},
        MalformedImage{"name past the end", {'B', 0, 0, 0, 0, 0, 200, '1', '.'}},
        MalformedImage{"section length past the end",
                       {'F', 0, 1, 'n', 1, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 'x'}},
        MalformedImage{"external name past the end", {'F', 0, 1, 'n', 1, 0, 0, 0, 0, 1, 0, 9, 'a'}},
        MalformedImage{"entry count beyond the entries",
                       concat({{'E', 3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 'A', 0, 1, 0, 0, 0, 0, 0},
                               kStoredSection})},
        MalformedImage{"name-only entry past the end", {'E', 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 4}},
        MalformedImage{"extra names past the end", {'X', 3, 1, 'A', 1, 'B'}},
        MalformedImage{"record kind as the last byte", {'X'}}),
    [](const auto& test) {
        std::string name = test.param.what;
        for (char& c : name) {
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        return name;
    });

// The separate file of an external section: descrambled, then inflated when compressed.
TEST_F(ImageReader, ExternalSectionFilesRestoreTheirData) {
    Section s = section("ext", std::string(5000, 'e') + "tail", true);
    s.externalName = "ext.bin";
    ByteStringPtr file = toByteString(externalFile(s));
    ByteStringPtr plain(FirmwarePackage_descramble(file.get()));
    ByteStringPtr data(PackageSection_inflate(plain.get()));
    EXPECT_EQ(toBytes(data.get()), s.data);
}

TEST_F(ImageReader, HasFileMatchesWholeEntriesOnly) {
    Image image = sampleImage(8);
    image.records = {Boot{0, 0, "1.14", section("b", "x")},
                     Firmware{"1", 1, 0, 0, section("f", "y")}};
    FirmwarePackagePtr p = loadImage(image);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(FirmwarePackage_hasFile(p.get(), makeByteString("BOOT").get()), 0);
    EXPECT_EQ(FirmwarePackage_hasFile(p.get(), makeByteString("BOOT0").get()), 1);
    EXPECT_EQ(FirmwarePackage_hasFile(p.get(), makeByteString("FIRMWARE").get()), 1);
}

}  // namespace

// Shared by the package tests: byte conversions, a leak-checked fixture and a sample release
// with every kind of record.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/byte_string.h"
#include "package/firmware_package.h"
#include "package/package_records.h"
#include "packwriter/package_writer.h"

namespace packagetest {

using packwriter::Bytes;

inline ByteStringPtr toByteString(const Bytes& bytes) {
    ByteStringPtr s(ByteString_create(static_cast<int32_t>(bytes.size())));
    ByteString_appendBytes(s.get(), bytes.data(), static_cast<int32_t>(bytes.size()));
    return s;
}

inline ByteStringPtr toByteString(const std::string& text) {
    return makeByteString(text);
}

inline Bytes toBytes(const ByteString* s) {
    return s == nullptr ? Bytes{} : Bytes(s->data, s->data + s->length);
}

// Loads into a fresh record; null when the load reports failure.
inline FirmwarePackagePtr load(int32_t kind, const Bytes& bytes, int scrambled) {
    ByteStringPtr b = toByteString(bytes);
    FirmwarePackagePtr p(FirmwarePackage_new());
    if (FirmwarePackage_load(kind, p.get(), b.get(), scrambled) != 1) return nullptr;
    return p;
}

inline FirmwarePackagePtr loadImage(const packwriter::Image& image) {
    return load(PACKAGE_IMAGE, packwriter::writeImage(image), 1);
}

inline FirmwarePackagePtr loadInfo(const std::string& text) {
    return load(PACKAGE_INFO, packwriter::bytesOf(text), 0);
}

class LeakChecked : public ::testing::Test {
  protected:
    void SetUp() override { live_ = ByteString_liveCount(); }
    void TearDown() override { EXPECT_EQ(ByteString_liveCount(), live_); }
    uint32_t live_ = 0;
};

template <typename Param>
class LeakCheckedWithParam : public ::testing::TestWithParam<Param> {
  protected:
    void SetUp() override { live_ = ByteString_liveCount(); }
    void TearDown() override { EXPECT_EQ(ByteString_liveCount(), live_); }
    uint32_t live_ = 0;
};

inline packwriter::Section section(const std::string& name, const std::string& data,
                                   bool compressed = false) {
    packwriter::Section s{name, packwriter::bytesOf(data)};
    s.compressed = compressed;
    return s;
}

// A release with both bootloaders, a firmware, two file records (one name-only) and extra
// names; from format 7 on the second memory file lives in an external section.
inline packwriter::Image sampleImage(int format) {
    using namespace packwriter;
    Image image;
    image.format = format;
    image.fsn = "GM";
    image.fln = "General Motors: trucks";
    image.des = "Spring release";
    image.records.push_back(
        Boot{0, 0x08000000, "1.14", section("boot0", std::string(3000, 'b'), true)});
    image.records.push_back(Boot{1, 0x08004000, "2.07", section("boot1", "second boot")});
    image.records.push_back(
        Firmware{"3.21.05", 517, 0xBEEF, 0x7A, section("fw", "firmware bytes \x01\x02", true)});
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

struct ExpectedFile {
    const char* name;
    const char* target;
    int kind, start, erase, version1, version2, trailer;
};

// The file records of a loaded package, and nothing after them.
inline void expectFiles(const FirmwarePackage* p, const std::vector<ExpectedFile>& expected) {
    for (size_t i = 0; i < expected.size(); ++i) {
        const ExpectedFile& e = expected[i];
        SCOPED_TRACE(e.name);
        const PackageFile* f = p->files[i];
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(ByteString_str(f->name), e.name);
        EXPECT_EQ(ByteString_str(f->target), e.target);
        EXPECT_EQ(f->memoryKind, e.kind);
        EXPECT_EQ(f->start, e.start);
        EXPECT_EQ(f->eraseCount, e.erase);
        EXPECT_EQ(f->version1, e.version1);
        EXPECT_EQ(f->version2, e.version2);
        EXPECT_EQ(f->checksumTrailer, e.trailer);
    }
    EXPECT_EQ(p->files[expected.size()], nullptr);
}

}  // namespace packagetest

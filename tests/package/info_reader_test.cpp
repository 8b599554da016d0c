#include <string>
#include <vector>

#include "package_test_support.h"

namespace {

using namespace packagetest;
using namespace packwriter;

std::string str(const ByteString* s) {
    return ByteString_str(s);
}

class InfoRoundTrip : public LeakCheckedWithParam<int> {};

TEST_P(InfoRoundTrip, TheInfoDescribesTheSameRelease) {
    const int v = GetParam();
    std::string text = writeInfo(describe(sampleImage(v)));
    FirmwarePackagePtr p = loadInfo(text);
    ASSERT_NE(p, nullptr) << text;

    EXPECT_EQ(str(p->fsn), "GM");
    EXPECT_EQ(str(p->fln), "General Motors: trucks");
    EXPECT_EQ(str(p->des), v >= 4 ? "Spring release" : "General Motors: trucks");
    ASSERT_NE(p->boot[0], nullptr);
    ASSERT_NE(p->boot[1], nullptr);
    EXPECT_EQ(str(p->boot[0]->name), "1.14");
    EXPECT_EQ(p->boot[0]->address, 0x08000000u);
    EXPECT_EQ(p->boot[0]->section, nullptr);
    EXPECT_EQ(str(p->boot[1]->name), "2.07");
    EXPECT_EQ(p->boot[1]->address, 0x08004000u);
    ASSERT_NE(p->firmware, nullptr);
    EXPECT_EQ(str(p->firmware->name), "3.21.05");
    EXPECT_EQ(p->firmware->build, v >= 3 ? 517u : 1u);
    EXPECT_EQ(p->firmware->value2, 0u);
    EXPECT_EQ(p->firmware->section, nullptr);

    const bool wide = v >= 6;
    expectFiles(p.get(),
                {{"MEM1", "flash", wide ? 9 : 1, 200, 7, v >= 2 ? 12 : 0, v >= 5 ? 34 : 0, 0},
                 {"MEM2", "", wide ? 9 : 2, 200, 7, v >= 2 ? 56 : 0, v >= 5 ? 78 : 0, 0},
                 {"LIST", "", wide ? 4 : 1, 30, 2, 0, 0, 0}});
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p->files[i]->section, nullptr);
    // Only file and extra names are indexed by an info.
    EXPECT_EQ(str(p->nameList), ";MEM1;MEM2;LIST;HELP;LOGO;");
    // Fields only an image or the tool sets.
    EXPECT_EQ(p->fileCount, 0);
    EXPECT_EQ(p->firmwareVersion, nullptr);
    EXPECT_EQ(p->bootVersion, nullptr);
    EXPECT_EQ(p->bootVersionNumber, 0);
    EXPECT_EQ(p->firmwareBuild, 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, InfoRoundTrip, ::testing::Range(1, 9));

class InfoReader : public LeakChecked {};

TEST_F(InfoReader, AVersionAboveEightFailsAndKeepsWhatWasRead) {
    FirmwarePackagePtr p(FirmwarePackage_new());
    ByteStringPtr newer = makeByteString("FSN:GM\r\nVER:9\r\nFLN:later\r\nEND\r\n");
    EXPECT_EQ(FirmwarePackage_load(PACKAGE_INFO, p.get(), newer.get(), 0), 0);
    EXPECT_EQ(str(p->fsn), "GM");
    EXPECT_EQ(p->fln, nullptr);
    EXPECT_EQ(p->nameList, nullptr);
    EXPECT_NE(loadInfo("VER:8\r\nEND\r\n"), nullptr);
}

TEST_F(InfoReader, FlnCopiesIntoDesWhileTheVersionIsBelowFour) {
    FirmwarePackagePtr p = loadInfo("FLN:Ford\r\nVER:4\r\nFLN:Ford US\r\nEND\r\n");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->fln), "Ford US");
    EXPECT_EQ(str(p->des), "Ford");
    // DES replaces the copy.
    p = loadInfo("FLN:Ford\r\nDES:notes\r\nEND\r\n");
    EXPECT_EQ(str(p->des), "notes");
}

TEST_F(InfoReader, BootItemsFillSlotsByNumber) {
    FirmwarePackagePtr p = loadInfo("B:2\r\n1:0x8000:1.14\r\n2:FF00:1.20\r\nEND\r\n");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->boot[0]->name), "1.14");
    EXPECT_EQ(p->boot[0]->address, 0x8000u);
    EXPECT_EQ(str(p->boot[1]->name), "1.20");
    EXPECT_EQ(p->boot[1]->address, 0xFF00u);
    EXPECT_EQ(str(p->nameList), ";");
}

TEST_F(InfoReader, FileTuplesOfOneLineCountTheirPosition) {
    FirmwarePackagePtr p = loadInfo("VER:5\r\nE:1\r\n1:16:4:x:A:ta:3:4:B:tb:5:6\r\nEND\r\n");
    ASSERT_NE(p, nullptr);
    ASSERT_NE(p->files[1], nullptr);
    EXPECT_EQ(str(p->files[0]->name), "A");
    EXPECT_EQ(str(p->files[0]->target), "ta");
    EXPECT_EQ(p->files[0]->memoryKind, 1);
    EXPECT_EQ(p->files[0]->version1, 3);
    EXPECT_EQ(p->files[0]->version2, 4);
    EXPECT_EQ(str(p->files[1]->name), "B");
    EXPECT_EQ(p->files[1]->memoryKind, 2);
    EXPECT_EQ(p->files[1]->start, 16);
    EXPECT_EQ(p->files[1]->eraseCount, 4);
    EXPECT_EQ(p->files[1]->version2, 6);
    EXPECT_EQ(p->files[2], nullptr);
}

TEST_F(InfoReader, ALastTupleMayStopAfterItsName) {
    FirmwarePackagePtr p = loadInfo("VER:6\r\nE:2\r\n1:7:1:2:x:ONLY\r\n2:8:3:4:x:A:t:9\r\nEND\r\n");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->files[0]->name), "ONLY");
    EXPECT_EQ(str(p->files[0]->target), "");
    EXPECT_EQ(p->files[0]->memoryKind, 7);
    EXPECT_EQ(p->files[0]->version1, 0);
    // Absent numbers are 0, not left over from the line before.
    EXPECT_EQ(p->files[1]->memoryKind, 8);
    EXPECT_EQ(p->files[1]->version1, 9);
    EXPECT_EQ(p->files[1]->version2, 0);
}

TEST_F(InfoReader, FirmwareItemsByFormat) {
    struct Case {
        const char* text;
        uint32_t build;
    };
    for (Case c : {Case{"VER:2\r\nF:1\r\n1:1.00\r\nEND\r\n", 1},
                   Case{"VER:4\r\nF:1\r\n1:1.00:77\r\nEND\r\n", 77},
                   Case{"VER:5\r\nF:1\r\n1:1.00:77\r\nEND\r\n", 77},
                   Case{"VER:5\r\nF:1\r\n1:1.00:12:88\r\nEND\r\n", 88}}) {
        FirmwarePackagePtr p = loadInfo(c.text);
        ASSERT_NE(p, nullptr) << c.text;
        EXPECT_EQ(str(p->firmware->name), "1.00");
        EXPECT_EQ(p->firmware->build, c.build) << c.text;
    }
    // One firmware only: after its item the next line is a top-level line again.
    FirmwarePackagePtr p = loadInfo("VER:3\r\nF:2\r\n1:1.00:5\r\nFSN:GM\r\nEND\r\n");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->fsn), "GM");
}

TEST_F(InfoReader, ColonsInsideTextValues) {
    FirmwarePackagePtr p = loadInfo("#:a: b\r\nFSN:a:b\r\nFLN:c:d\r\nXYZ:e:f\r\nEND\r\n");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->fsn), "a:b");
    EXPECT_EQ(str(p->fln), "c:d");
    // Where a line has no further field, a ":" ends the reading with what was read so far.
    for (const char* text :
         {"FSN:GM\r\nDES:a:b\r\nFLN:late\r\nEND\r\n", "FSN:GM\r\nVER:4:1\r\nFLN:late\r\nEND\r\n",
          "FSN:GM\r\nX:1\r\n1:A:B\r\nFLN:late\r\nEND\r\n",
          "FSN:GM\r\nVER:3\r\nF:1\r\n1:n:2:3\r\nFLN:late\r\nEND\r\n"}) {
        p = loadInfo(text);
        ASSERT_NE(p, nullptr) << text;
        EXPECT_EQ(str(p->fsn), "GM");
        EXPECT_EQ(p->fln, nullptr) << text;
        EXPECT_EQ(p->firmware, nullptr);
        EXPECT_EQ(str(p->nameList), ";");
    }
}

TEST_F(InfoReader, EndMustStartALine) {
    EXPECT_NE(loadInfo("END\r\n"), nullptr);
    EXPECT_NE(loadInfo("FSN:GM\r\nEND"), nullptr);
    EXPECT_NE(loadInfo("FSN:GM\r\nEND\r\ngarbage without a colon"), nullptr);
    EXPECT_EQ(loadInfo("FSN:GM\r\n\r\nEND\r\n"), nullptr);
    EXPECT_EQ(loadInfo("FSN:GM\r\n END\r\n"), nullptr);
    EXPECT_EQ(loadInfo("FSN:GM\r\n"), nullptr);
    EXPECT_EQ(loadInfo(""), nullptr);
}

TEST_F(InfoReader, CountsBelowOneOpenNoSection) {
    FirmwarePackagePtr p = loadInfo("B:0\r\nE:-3\r\nX:1\r\n1:A\r\nEND\r\n");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->nameList), ";A;");
}

TEST_F(InfoReader, ExtraFilesBeyondFiftyAreReleased) {
    std::string text = "E:1\r\n1:0:0:x";
    for (int i = 0; i < 60; ++i) text += ":F" + std::to_string(i) + ":t";
    FirmwarePackagePtr p = loadInfo(text + "\r\nEND\r\n");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->files[49]->name), "F49");
    EXPECT_EQ(p->files[49]->memoryKind, 50);
}

struct MalformedInfo {
    const char* what;
    const char* text;
};

class MalformedInfos : public LeakCheckedWithParam<MalformedInfo> {};

TEST_P(MalformedInfos, FailTheLoad) {
    FirmwarePackagePtr p(FirmwarePackage_new());
    ByteStringPtr bytes = makeByteString(GetParam().text);
    EXPECT_EQ(FirmwarePackage_load(PACKAGE_INFO, p.get(), bytes.get(), 0), 0);
    EXPECT_EQ(p->nameList, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedInfos,
    ::testing::Values(MalformedInfo{"boot_without_name", "B:1\r\n1:0x8000\r\nEND\r\n"},
                      MalformedInfo{"boot_item_three", "B:3\r\n1:0:a\r\n2:0:b\r\n3:0:c\r\nEND\r\n"},
                      MalformedInfo{"files_without_name", "E:1\r\n1:0:0:x\r\nEND\r\n"},
                      MalformedInfo{"files_with_empty_name", "E:1\r\n1:0:0:x::t\r\nEND\r\n"},
                      MalformedInfo{"files_kind_but_no_name",
                                    "VER:6\r\nE:1\r\n1:1:0:0:x\r\nEND\r\n"},
                      MalformedInfo{"item_number_never_reaches_n", "X:2\r\n1:A\r\nEND\r\n"},
                      MalformedInfo{"item_number_out_of_order", "X:2\r\n2:A\r\n1:B\r\nEND\r\n"},
                      MalformedInfo{"item_number_not_a_number", "X:1\r\nA:B\r\nEND\r\n"},
                      MalformedInfo{"item_line_without_colon", "X:1\r\nA\r\nEND\r\n"},
                      MalformedInfo{"firmware_without_build", "VER:3\r\nF:1\r\n1:1.00\r\nEND\r\n"},
                      MalformedInfo{"firmware_without_name", "F:1\r\n1\r\nEND\r\n"},
                      MalformedInfo{"key_runs_to_the_end", "FSN"},
                      MalformedInfo{"value_runs_to_the_end", "FSN:GM"},
                      MalformedInfo{"item_runs_to_the_end", "X:1\r\n1:A"},
                      MalformedInfo{"line_without_key", "FSN:GM\r\nhello\r\nEND:\r\n"}),
    [](const auto& test) { return std::string(test.param.what); });

// A cut of a valid info loads only when "END" survives it whole.
class TruncatedInfo : public LeakCheckedWithParam<int> {};

TEST_P(TruncatedInfo, LoadsOnlyWithItsEnd) {
    std::string text = writeInfo(describe(sampleImage(GetParam())));
    size_t end = text.rfind("END");
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        EXPECT_EQ(loadInfo(text.substr(0, cut)) != nullptr, cut >= end + 3) << "cut at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, TruncatedInfo, ::testing::Values(1, 5, 8));

}  // namespace

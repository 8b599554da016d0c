#include <string>

#include "package_test_support.h"

namespace {

using namespace packagetest;

struct InfoCase {
    const char* what;
    const char* text;
    std::string loaded;  // the summary, "failed" and what the record holds when the load fails
};

class InfoText : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoText, LoadsAs) {
    FirmwarePackagePtr p(FirmwarePackage_new());
    ByteStringPtr bytes = makeByteString(GetParam().text);
    int result = FirmwarePackage_load(PACKAGE_INFO, p.get(), bytes.get(), 0);
    EXPECT_EQ((result == 1 ? "" : "failed ") + summary(p.get()), GetParam().loaded);
}

const char* const kEmpty = "fsn= fln= des= names=;";
const char* const kFailed = "failed fsn= fln= des= names=";  // the name index is not stored

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, InfoText, ::testing::Values(
    // Numbers are read past leading white space.
    InfoCase{"version_after_a_space", "FSN:GM\r\nVER: 9\r\nFLN:later\r\nEND\r\n", "failed fsn=GM fln= des= names="},
    InfoCase{"version_after_a_tab", "VER:\t4\r\nFLN:Ford\r\nEND\r\n", "fsn= fln=Ford des= names=;"},
    InfoCase{"spaced_item_numbers", "VER: 5\r\nE: 1\r\n 1: 16: 4:x:A:t: 3: 4\r\nEND\r\n", "fsn= fln= des= A/t/1/16/4/3/4/0 names=;A;"},
    InfoCase{"version_eight", "VER:8\r\nEND\r\n", kEmpty},
    InfoCase{"fln_copied_while_below_four", "FLN:Ford\r\nVER:4\r\nFLN:Ford US\r\nEND\r\n", "fsn= fln=Ford US des=Ford names=;"},
    // A line end met while a key is gathered belongs to the key: the key is unknown.
    InfoCase{"line_without_a_colon", "FSN:GM\r\nhello\r\nFLN:x\r\nEND\r\n", "fsn=GM fln= des= names=;"},
    InfoCase{"lone_line_feed", "\nFSN:GM\r\nDES:d\r\nEND\r\n", "fsn= fln= des=d names=;"},
    InfoCase{"colons_inside_texts", "#:a: b\r\nFSN:a:b\r\nFLN:c:d\r\nXYZ:e:f\r\nEND\r\n", "fsn=a:b fln=c:d des=c:d names=;"},
    // Where a line has no further field, a ":" ends the reading with what was read.
    InfoCase{"colon_in_des", "FSN:GM\r\nDES:a:b\r\nFLN:late\r\nEND\r\n", "fsn=GM fln= des= names=;"},
    InfoCase{"colon_in_x_name", "FSN:GM\r\nX:1\r\n1:A:B\r\nFLN:late\r\nEND\r\n", "fsn=GM fln= des= names=;"},
    InfoCase{"colon_after_build", "VER:3\r\nF:1\r\n1:n:2:3\r\nFLN:late\r\nEND\r\n", kEmpty},
    InfoCase{"boots_by_number", "B:2\r\n1:0x8000:1.14\r\n2:FF00:1.20\r\nEND\r\n", "fsn= fln= des= boot=1.14@8000 boot=1.20@FF00 names=;"},
    InfoCase{"firmware_format_2", "VER:2\r\nF:1\r\n1:1.00\r\nEND\r\n", "fsn= fln= des= fw=1.00/1/0 names=;"},
    InfoCase{"firmware_format_4", "VER:4\r\nF:1\r\n1:1.00:77\r\nEND\r\n", "fsn= fln= des= fw=1.00/77/0 names=;"},
    InfoCase{"firmware_build_last_of_four", "VER:5\r\nF:1\r\n1:1.00:12:88\r\nEND\r\n", "fsn= fln= des= fw=1.00/88/0 names=;"},
    InfoCase{"one_firmware_only", "VER:3\r\nF:2\r\n1:1.00:5\r\nFSN:GM\r\nEND\r\n", "fsn=GM fln= des= fw=1.00/5/0 names=;"},
    // Absent numbers are 0, not left over from the line before.
    InfoCase{"tuple_ends_after_its_name", "VER:6\r\nE:2\r\n1:7:1:2:x:ONLY\r\n2:8:3:4:x:A:t:9\r\nEND\r\n", "fsn= fln= des= ONLY//7/1/2/0/0/0 A/t/8/3/4/9/0/0 names=;ONLY;A;"},
    InfoCase{"counts_below_one", "B:0\r\nE:-3\r\nX:1\r\n1:A\r\nEND\r\n", "fsn= fln= des= names=;A;"},
    InfoCase{"end_unterminated", "FSN:GM\r\nEND", "fsn=GM fln= des= names=;"},
    InfoCase{"text_after_end", "END\r\ngarbage without a colon", kEmpty},
    InfoCase{"end_after_a_blank_line", "FSN:GM\r\n\r\nEND\r\n", "failed fsn=GM fln= des= names="},
    InfoCase{"value_runs_to_the_end", "FSN:GM", kFailed},
    InfoCase{"item_runs_to_the_end", "X:1\r\n1:A", kFailed},
    InfoCase{"boot_without_name", "B:1\r\n1:0x8000\r\nEND\r\n", kFailed},
    InfoCase{"boot_item_three", "B:3\r\n1:0:a\r\n2:0:b\r\n3:0:c\r\nEND\r\n", "failed fsn= fln= des= boot=a@0 boot=b@0 names="},
    InfoCase{"files_without_name", "E:1\r\n1:0:0:x\r\nEND\r\n", kFailed},
    InfoCase{"files_with_empty_name", "E:1\r\n1:0:0:x::t\r\nEND\r\n", kFailed},
    InfoCase{"files_kind_but_no_name", "VER:6\r\nE:1\r\n1:1:0:0:x\r\nEND\r\n", kFailed},
    InfoCase{"item_number_never_reaches_n", "X:2\r\n1:A\r\nEND\r\n", kFailed},
    InfoCase{"item_number_out_of_order", "X:2\r\n2:A\r\n1:B\r\nEND\r\n", kFailed},
    InfoCase{"item_number_not_a_number", "X:1\r\nA:B\r\nEND\r\n", kFailed},
    InfoCase{"item_line_without_colon", "X:1\r\nA\r\nEND\r\n", kFailed},
    InfoCase{"firmware_without_build", "VER:3\r\nF:1\r\n1:1.00\r\nEND\r\n", kFailed},
    InfoCase{"firmware_without_name", "F:1\r\n1\r\nEND\r\n", kFailed}),
    [](const auto& test) { return std::string(test.param.what); });
// clang-format on

}  // namespace

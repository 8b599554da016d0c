// Runs the built zarvik-cli on packages written by the package writer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "core/byte_string.h"
#include "packwriter/package_writer.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;
using namespace packwriter;
using nlohmann::json;

Image release() {
    Image image;
    image.format = 7;
    image.fsn = "VW";
    image.fln = "Volkswagen";
    image.des = "Autumn";
    Section boot{"boot0", bytesOf("boot data")};
    boot.compressed = true;
    image.records.push_back(Boot{0, 0x1000, "1.31", boot});
    image.records.push_back(Firmware{"4.02", 99, 3, 0, Section{"fw", bytesOf("firmware")}});
    FileGroup group{5, 70, 6, {}, "", {}};
    Section external{"ext", bytesOf("elsewhere")};
    external.externalName = "ext.bin";
    group.entries.push_back(FileEntry{"MEM.BIN", "tgt", 2, 1, 1, external});
    image.records.push_back(group);
    image.records.push_back(ExtraNames{{"HELP"}});
    return image;
}

// Every field `expected` names (at any depth) has its value in `actual`.
void expectFields(const json& actual, const json& expected) {
    json flat = actual.flatten(), wanted = expected.flatten();
    for (const auto& [key, value] : wanted.items()) EXPECT_EQ(flat[key], value) << key;
}

class Inspect : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zarvik-inspect-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string write(const std::string& name, const Bytes& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return (dir_ / name).string();
    }
    static ProgramRun inspect(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "inspect");
        return runProgram(cliPath(), arguments);
    }

    fs::path dir_;
};

TEST_F(Inspect, JsonShowsEveryFieldOfAnImage) {
    ProgramRun r = inspect({write("77.gfr", writeImage(release())), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    expectFields(json::parse(r.out), R"({
        "kind": "image", "format": 7, "fsn": "VW", "fln": "Volkswagen", "des": "Autumn",
        "fileCount": 1, "nameList": ";BOOT0;FIRMWARE;MEM.BIN;HELP;", "bootVersionNumber": 131,
        "boots": [{"name": "1.31", "address": 4096,
                   "section": {"size": 9, "compressed": 1, "crc32": "0x3D6C7F3B"}}],
        "firmware": {"name": "4.02", "build": 99, "value2": 3},
        "files": [{"name": "MEM.BIN", "target": "tgt", "memoryKind": 5, "start": 70,
                   "eraseCount": 6, "version1": 2, "version2": 1, "checksumTrailer": 1,
                   "section": {"external": 1, "externalName": "ext.bin", "size": null}}]})"_json);
}

TEST_F(Inspect, TextAndInfoByExtensionOrKind) {
    const std::string info = writeInfo(describe(release()));
    ProgramRun r = runProgram(cliPath(), {"--json", "inspect", write("77.gfi", bytesOf(info))});
    ASSERT_EQ(r.status, 0) << r.err;
    expectFields(json::parse(r.out), R"({"kind": "info", "format": 7,
        "files": [{"name": "MEM.BIN", "section": null}]})"_json);

    const std::string other = write("release.txt", bytesOf(info));
    EXPECT_EQ(inspect({other}).status, 2);
    r = inspect({"--kind", "info", other});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"Package info", "Firmware  4.02  build 99", "Names  ;MEM.BIN;HELP;"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    }
}

TEST_F(Inspect, FailuresExitWithOneAndSayWhy) {
    Bytes image = writeImage(release());
    image.resize(image.size() - 4);
    ProgramRun r = inspect({write("cut.gfr", image)});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a readable package image"), std::string::npos) << r.err;
    r = inspect({(dir_ / "missing.gfr").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
    EXPECT_EQ(inspect({write("9.gfi", bytesOf("VER:9\r\nEND\r\n"))}).status, 1);
}

}  // namespace

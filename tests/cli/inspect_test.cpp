// Runs the built zarvik-cli on packages written by the package writer.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "bench_paths.h"
#include "core/byte_string.h"
#include "core/crc32.h"
#include "packwriter/package_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace packwriter;
using nlohmann::json;

struct Outcome {
    int status;
    std::string out;
};

Outcome run(const std::string& command) {
    Outcome r{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return r;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
    int rc = pclose(pipe);
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return r;
}

std::string quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

const std::string kCli = std::string(ZARVIK_BUILD_DIR) + "/src/cli/zarvik-cli";

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

class Inspect : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zarvik-inspect-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        live_ = ByteString_liveCount();
    }
    void TearDown() override {
        fs::remove_all(dir_);
        EXPECT_EQ(ByteString_liveCount(), live_);
    }

    fs::path write(const std::string& name, const Bytes& bytes) {
        fs::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    fs::path dir_;
    uint32_t live_ = 0;
};

TEST_F(Inspect, JsonShowsEveryFieldOfAnImage) {
    fs::path gfr = write("77.gfr", writeImage(release()));
    Outcome r = run(kCli + " inspect " + quoted(gfr) + " --json");
    ASSERT_EQ(r.status, 0) << r.out;
    json j = json::parse(r.out);
    EXPECT_EQ(j["kind"], "image");
    EXPECT_EQ(j["format"], 7);
    EXPECT_EQ(j["fsn"], "VW");
    EXPECT_EQ(j["fln"], "Volkswagen");
    EXPECT_EQ(j["des"], "Autumn");
    EXPECT_EQ(j["fileCount"], 1);
    ASSERT_EQ(j["boots"].size(), 1u);
    EXPECT_EQ(j["boots"][0]["name"], "1.31");
    EXPECT_EQ(j["boots"][0]["address"], 0x1000);
    EXPECT_EQ(j["boots"][0]["section"]["size"], 9);
    EXPECT_EQ(j["boots"][0]["section"]["compressed"], 1);
    ByteStringPtr bootData = makeByteString("boot data");
    char crc[16];
    std::snprintf(crc, sizeof crc, "0x%08X", checksumCrc32(bootData.get()));
    EXPECT_EQ(j["boots"][0]["section"]["crc32"], crc);
    EXPECT_EQ(j["firmware"]["name"], "4.02");
    EXPECT_EQ(j["firmware"]["build"], 99);
    EXPECT_EQ(j["firmware"]["value2"], 3);
    ASSERT_EQ(j["files"].size(), 1u);
    const json& f = j["files"][0];
    EXPECT_EQ(f["name"], "MEM.BIN");
    EXPECT_EQ(f["target"], "tgt");
    EXPECT_EQ(f["memoryKind"], 5);
    EXPECT_EQ(f["start"], 70);
    EXPECT_EQ(f["eraseCount"], 6);
    EXPECT_EQ(f["version1"], 2);
    EXPECT_EQ(f["version2"], 1);
    EXPECT_EQ(f["checksumTrailer"], 1);
    EXPECT_EQ(f["section"]["external"], 1);
    EXPECT_EQ(f["section"]["externalName"], "ext.bin");
    EXPECT_TRUE(f["section"]["size"].is_null());
    EXPECT_EQ(j["nameList"], ";BOOT0;FIRMWARE;MEM.BIN;HELP;");
    EXPECT_EQ(j["bootVersionNumber"], 131);
}

TEST_F(Inspect, TextAndInfoByExtensionOrKind) {
    std::string info = writeInfo(describe(release()));
    fs::path gfi = write("77.gfi", bytesOf(info));
    Outcome r = run(kCli + " --json inspect " + quoted(gfi));
    ASSERT_EQ(r.status, 0) << r.out;
    json j = json::parse(r.out);
    EXPECT_EQ(j["kind"], "info");
    EXPECT_EQ(j["format"], 7);
    EXPECT_EQ(j["files"][0]["name"], "MEM.BIN");
    EXPECT_TRUE(j["files"][0]["section"].is_null());

    fs::path other = write("release.txt", bytesOf(info));
    EXPECT_EQ(run(kCli + " inspect " + quoted(other) + " 2>&1").status, 2);
    r = run(kCli + " inspect --kind info " + quoted(other));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Package info"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Firmware  4.02  build 99"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Names  ;MEM.BIN;HELP;"), std::string::npos) << r.out;
}

TEST_F(Inspect, FailuresExitWithOneAndSayWhy) {
    Bytes image = writeImage(release());
    image.resize(image.size() - 4);
    fs::path cut = write("cut.gfr", image);
    Outcome r = run(kCli + " inspect " + quoted(cut) + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("is not a readable package image"), std::string::npos) << r.out;

    r = run(kCli + " inspect " + quoted(dir_ / "missing.gfr") + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot read"), std::string::npos) << r.out;

    fs::path newer = write("9.gfi", bytesOf("VER:9\r\nEND\r\n"));
    EXPECT_EQ(run(kCli + " inspect " + quoted(newer) + " 2>&1").status, 1);
}

// The demo's path: zarvik-pack writes the sample release, inspect shows it.
TEST_F(Inspect, ShowsWhatZarvikPackWrote) {
    std::string manifest = std::string(ZARVIK_SOURCE_DIR) + "/bench/packwriter/sample.json";
    Outcome pack = run(benchBinary("zarvik-pack") + " '" + manifest + "' --out " + quoted(dir_));
    ASSERT_EQ(pack.status, 0) << pack.out;
    EXPECT_TRUE(fs::exists(dir_ / "4242_vehicles.bin"));

    Outcome image = run(kCli + " inspect --json " + quoted(dir_ / "4242.gfr"));
    ASSERT_EQ(image.status, 0) << image.out;
    Outcome info = run(kCli + " inspect --json " + quoted(dir_ / "4242.gfi"));
    ASSERT_EQ(info.status, 0) << info.out;
    json ji = json::parse(image.out);
    json jd = json::parse(info.out);
    EXPECT_EQ(ji["firmware"]["section"]["size"], 196608);
    EXPECT_EQ(ji["files"][0]["section"]["size"], 6);
    for (const char* key : {"fsn", "fln", "des"}) EXPECT_EQ(ji[key], jd[key]) << key;
    EXPECT_EQ(ji["firmware"]["build"], jd["firmware"]["build"]);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ji["files"][i]["name"], jd["files"][i]["name"]);
        EXPECT_EQ(ji["files"][i]["memoryKind"], jd["files"][i]["memoryKind"]);
    }
}

}  // namespace

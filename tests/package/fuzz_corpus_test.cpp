// Replays the committed fuzzing seeds (and the inputs that once failed, kept among them)
// through the fuzz targets' own entries.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_entries.h"
#include "package_test_support.h"

namespace {

namespace fs = std::filesystem;

struct Target {
    const char* name;
    bool (*entry)(const uint8_t*, size_t);
};

class FuzzCorpus : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzCorpus, EverySeedKeepsTheInvariants) {
    fs::path dir = fs::path(ZARVIK_SOURCE_DIR) / "fuzz" / "corpus" / GetParam().name;
    int seeds = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(GetParam().entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()))
            << entry.path();
        ++seeds;
    }
    EXPECT_GE(seeds, 3);
}

// Every fuzz target, named as its corpus directory.
INSTANTIATE_TEST_SUITE_P(
    Targets, FuzzCorpus,
    ::testing::Values(Target{"image", fuzzImage}, Target{"info", fuzzInfo},
                      Target{"inflate", fuzzInflate}, Target{"rechecksum", fuzzRechecksum},
                      Target{"download", fuzzDownload}, Target{"field", fuzzField},
                      Target{"toolrecord", fuzzToolRecord}, Target{"table", fuzzTable},
                      Target{"firmwarelist", fuzzFirmwareList}, Target{"version", fuzzVersionReply},
                      Target{"reply", fuzzReplyAssembly}, Target{"storedheader", fuzzStoredHeader},
                      Target{"directory", fuzzStoredDirectory},
                      Target{"address", fuzzServerAddress}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace

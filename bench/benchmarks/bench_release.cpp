#include "benchmarks/bench_release.h"

#include <fstream>

#include "catalogue/catalogue_builder.h"

namespace fs = std::filesystem;

bool BenchRelease_serve(const fs::path& dir, BenchServer& server, std::string* error) {
    const fs::path catalogueDir = dir / "catalogue";
    IdentityValues release;
    release.firmwareVersion = 301;
    release.detail = {3, 1, 2};
    packwriter::Image current;
    current.records = {catalogue::bootRecord(0, "1.20"), catalogue::bootRecord(1, "1.20")};
    catalogue::writeRelease(catalogueDir, 812, current);
    packwriter::Image image;
    image.records = {catalogue::bootRecord(0, "1.24"), catalogue::bootRecord(1, "1.24"),
                     catalogue::firmwareRecord(release, 1024 * 1024),
                     catalogue::memoryFile(
                         "CALIB", 1, 16, 1,
                         catalogue::checksummedBlocks(catalogue::patternBytes(20000, 1)), true),
                     catalogue::cpakArea(2, 12000, 0)};
    catalogue::writeRelease(catalogueDir, 900, image);
    {
        auto extra = catalogue::checksummedBlocks(catalogue::patternBytes(10000, 2));
        fs::create_directories(catalogueDir / "ktxUserFiles");
        std::ofstream(catalogueDir / "ktxUserFiles/a.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(extra.data()), static_cast<long>(extra.size()));
    }
    nlohmann::json records = {
        {"tools",
         {{{"serialNumber", 100001},
           {"hardwareId", 0x1234},
           {"name", "KTX2 Bench"},
           {"userNumber", 77},
           {"firmwareList", "3.01.02:900:CURRENT:Benchmark#"},
           {"installedFirmwareId", 812},
           {"userFiles", {"a.bin"}}}}},
        {"firmware",
         {{{"deviceFamily", "KTX"}, {"firmwareVersion", "2.18.04"}, {"firmwareId", 812}},
          {{"deviceFamily", "KTX"}, {"firmwareVersion", "3.01.02"}, {"firmwareId", 900}}}}};
    std::ofstream(dir / "records.json") << records.dump();

    BenchServerOptions options;
    options.catalogueDir = catalogueDir;
    options.toolRecordsPath = dir / "records.json";
    options.ftp = false;
    return server.start(options, error);
}

ToolState BenchRelease_tool() {
    ToolState state = ToolState_default();
    state.bootSlotVersions = {"1.20", "1.20"};
    return state;
}

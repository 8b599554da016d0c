// The real client against the real bench server on loopback, with shortened limits.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "core/byte_string.h"
#include "server/server_config.h"
#include "server/server_session.h"
#include "serversim/bench_server.h"
#include "serversim/request_log.h"

namespace fs = std::filesystem;

inline void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string textOf(const ByteString* s) {
    return s != nullptr ? ByteString_str(s) : "<null>";
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Bytes of every value, "|" included, so that no download relies on a text.
inline std::string patternBytes(size_t n, uint32_t seed) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 24);
    }
    return bytes;
}

inline const char* kRecords = R"({
  "updaterVersion": "1.3",
  "tools": [
    {"serialNumber": 100200, "hardwareId": 513, "name": "KTX2 Bench", "vehicle1": "Ford",
     "vehicle2": "Focus", "userNumber": 77, "manualCode1": "EN", "manualCode2": "KTX2M",
     "firmwareList": "1.02.03:812:CURRENT:Latest release#", "installedFirmwareId": 812,
     "userFileCount": 2, "userFiles": ["a.bin", "b.bin"]},
    {"serialNumber": 100300, "hardwareId": 513, "name": "Empty list", "userNumber": 78,
     "userFiles": []},
    {"serialNumber": 100400, "hardwareId": 513, "userNumber": 79,
     "userFiles": ["it's.bin", "x'); DROP TABLE fileList; --", "c.bin"]},
    {"serialNumber": 100500, "hardwareId": 513, "userNumber": 80,
     "userFiles": {"columns": ["filename"], "rows": [["a.bin"], ["b.bin"]], "rowCount": 3}},
    {"serialNumber": 100600, "hardwareId": 513, "userNumber": 81,
     "userFiles": {"columns": ["file\"name", "owner's"], "rows": [["a.bin", "Jo's"]]}},
    {"serialNumber": 100700, "hardwareId": 513, "userNumber": 82,
     "userFiles": {"columns": ["filename"], "rows": [["a.bin"]], "rowCount": 2000000000}},
    {"hardwareId": 600, "name": "Any 600", "userNumber": 90}
  ],
  "firmware": [
    {"deviceFamily": "KTX", "firmwareVersion": "1.02.03", "variantCode": 4, "firmwareId": 812}
  ],
  "userFileVersions": [{"header1": "SA0001", "header2": "BACKUP", "number": 3}]
})";

inline const std::string kGfi = "FLN=Bench vehicle\nFSN=BV\nDES=Bench release\n";

class BenchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zarvik-server-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        catalogue_ = dir_ / "catalogue";
        writeFile(catalogue_ / "ktxFirmwares/812.gfi", kGfi);
        writeFile(catalogue_ / "ktxFirmwares/812.gfr", patternBytes(70000, 812));
        writeFile(catalogue_ / "ktxUserFiles/a.bin", patternBytes(3000, 1));
        writeFile(catalogue_ / "KTX2_BLEVersion.txt", "2.1");
        writeFile(dir_ / "records.json", kRecords);

        BenchServerOptions options;
        options.catalogueDir = catalogue_;
        options.toolRecordsPath = dir_ / "records.json";
        options.logPath = dir_ / "requests.log";
        options.ftp = withFtp();
        std::string error;
        ASSERT_TRUE(server_.start(options, &error)) << error;

        ServerEnvironment environment;
        environment.ftpUser = options.ftpUser;
        environment.ftpPassword = options.ftpPassword;
        if (withFtp()) environment.ftpPort = std::to_string(server_.ftpPort());
        auto config = ServerConfig_resolve("127.0.0.1:" + std::to_string(server_.httpPort()),
                                           environment, &error);
        ASSERT_TRUE(config) << error;
        session_.reset(ServerSession_create());
        ServerSession_configure(session_.get(), *config);
        session_->timing.connectTimeout = Timing::ms(2000);
        session_->timing.lowSpeedTime = Timing::ms(1000);
    }

    void TearDown() override {
        session_.reset();
        server_.stop();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    virtual bool withFtp() const { return false; }

    void misbehave(const Misbehaviour& m) { server_.setMisbehaviour(m); }
    nlohmann::json lastRequest() const {
        auto all = RequestLog_read(dir_ / "requests.log");
        return all.empty() ? nlohmann::json() : all.back();
    }
    ServerSession* session() { return session_.get(); }

    fs::path dir_;
    fs::path catalogue_;
    BenchServer server_;
    ServerSessionPtr session_;
};

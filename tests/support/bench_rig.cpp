#include "support/bench_rig.h"

#include <stdlib.h>

#include <fstream>

#include "server/server_config.h"
#include "serversim/bench_certificates.h"
#include "serversim/request_log.h"

namespace fs = std::filesystem;

BenchRig::BenchRig() {
    char pattern[] = "/tmp/zarvik-rig-XXXXXX";
    if (mkdtemp(pattern) != nullptr) dir = pattern;
    catalogue = dir / "catalogue";
    fs::create_directories(catalogue);
    link.timing = shortTiming();
    toolOptions.rebootDelay = std::chrono::milliseconds(50);
    // Long enough that a reboot command sent to a bootloader restarting by itself is seen.
    toolOptions.selfRebootPause = std::chrono::milliseconds(60);
}

BenchRig::~BenchRig() {
    stop();
    std::error_code ec;
    fs::remove_all(dir, ec);
}

Timing BenchRig::shortTiming() {
    Timing t;
    t.exchangeUnit = Timing::ms(2);
    t.imageSettle = Timing::ms(20);
    t.rebootWait = Timing::ms(250);
    t.reconnectWait = Timing::ms(250);
    t.rebootRetryWait = Timing::ms(250);
    t.bluetoothStartWait = Timing::ms(10);
    t.connectTimeout = Timing::ms(2000);
    t.lowSpeedTime = Timing::ms(2000);
    return t;
}

void BenchRig::addFile(const std::string& relativePath, const std::string& bytes) {
    fs::path path = catalogue / relativePath;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

void BenchRig::addFile(const std::string& relativePath, const std::vector<uint8_t>& bytes) {
    addFile(relativePath, std::string(bytes.begin(), bytes.end()));
}

bool BenchRig::start(const ToolState& state, const nlohmann::json& records, std::string* error,
                     bool ftp) {
    std::ofstream(dir / "records.json") << records.dump(2);
    BenchServerOptions options;
    options.catalogueDir = catalogue;
    options.toolRecordsPath = dir / "records.json";
    options.logPath = dir / "requests.log";
    options.ftp = ftp;
    TransportOptions transport;
    if (tls) {
        auto files = BenchCertificate_writeServerSet(dir, error);
        if (!files) return false;
        options.tlsCertificate = files->certificate;
        options.tlsKey = files->key;
        transport.caFile = files->authority.string();
    }
    if (!server.start(options, error)) return false;

    ServerEnvironment environment;
    environment.ftpUser = options.ftpUser;
    environment.ftpPassword = options.ftpPassword;
    if (ftp) environment.ftpPort = std::to_string(server.ftpPort());
    const std::string scheme = tls ? "https://" : "http://";
    auto config = ServerConfig_resolve(scheme + "127.0.0.1:" + std::to_string(server.httpPort()),
                                       environment, error, transport);
    if (!config) return false;
    session.reset(ServerSession_create());
    ServerSession_configure(session.get(), *config);
    session->timing = shortTiming();

    link.port = (dir / "ktx2").string();
    return tool.start(state, link.port, toolOptions, error);
}

void BenchRig::stop() {
    tool.stop();
    session.reset();
    server.stop();
}

std::vector<nlohmann::json> BenchRig::requests() const {
    return RequestLog_read(dir / "requests.log");
}

std::vector<std::string> BenchRig::reportTags() const {
    std::vector<std::string> tags;
    for (const auto& r : requests()) {
        if (r.value("word", "") == "valid|" && r.value("mode", 0) == 2) {
            tags.push_back(r.value("tag", ""));
        }
    }
    return tags;
}

nlohmann::json benchToolRecord() {
    return {{"serialNumber", 100001},
            {"hardwareId", 0x1234},
            {"name", "KTX2 Bench"},
            {"vehicle1", "Ford"},
            {"vehicle2", "Focus"},
            {"userNumber", 77},
            {"manualCode1", "EN"},
            {"manualCode2", "F"},
            {"firmwareList", "2.20.01:900:CURRENT:Latest release#"},
            {"userFiles", nlohmann::json::array()}};
}

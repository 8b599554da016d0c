// The command line on a real network: behind a real proxy (tinyproxy) as users set it in
// their environment, against a server whose TLS is outdated, and with the mistakes a user
// makes in naming a trust store or asking TLS of a plain address.
#include <filesystem>
#include <fstream>

#include "serversim/bench_certificates.h"
#include "serversim/bench_server.h"
#include "serversim/proxy_process.h"
#include "serversim/recording_relay.h"
#include "support/run_program.h"
#include "support/update_bench.h"

namespace {

namespace fs = std::filesystem;

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Check-version, find and a whole update over HTTPS with https_proxy set: every request
// crosses the proxy in a tunnel, none as a request the proxy could read; no_proxy sends
// them past it.
TEST_F(UpdateBench, WholeUpdateThroughTheUsersProxy) {
    addRelease(kReleaseId, makeRelease("1.23", "1.23", &releaseIdentity));
    rig.tls = true;
    ASSERT_TRUE(startBench());
    ProxyProcess proxy;
    RecordingRelay relay;
    std::string error;
    ASSERT_TRUE(proxy.start({rig.dir / "proxy"}, &error)) << error;
    ASSERT_TRUE(relay.start(proxy.port(), &error)) << error;
    const std::string host = "127.0.0.1:" + std::to_string(rig.server.httpPort());
    const std::vector<std::string> common = {"--server",  "https://" + host,
                                             "--ca-file", (rig.dir / "bench-ca.pem").string(),
                                             "--port",    rig.link.port};
    std::map<std::string, std::string> environment = {
        {"https_proxy", "http://127.0.0.1:" + std::to_string(relay.port())}};
    auto run = [&](std::vector<std::string> command) {
        std::vector<std::string> arguments = common;
        arguments.insert(arguments.end(), command.begin(), command.end());
        return runProgram(cliPath(), arguments, environment);
    };
    for (const auto& command : std::vector<std::vector<std::string>>{
             {"check-version"}, {"find"}, {"--yes", "program", "--firmware", "900"}}) {
        ProgramRun result = run(command);
        EXPECT_EQ(result.status, 0) << command.back() << ": " << result.err;
        if (command.back() == "900") {
            EXPECT_NE((result.out + result.err).find("KTX2 Firmware Updated Successfully"),
                      std::string::npos)
                << result.out << result.err;
        }
    }
    const std::string heard = relay.heard();
    EXPECT_GE(count(heard, "CONNECT " + host + " HTTP/1.1"), 3u) << heard;
    EXPECT_EQ(heard.find("POST "), std::string::npos);
    EXPECT_NE(proxy.log().find("CONNECT"), std::string::npos);

    const int connections = relay.connections();
    environment["no_proxy"] = "127.0.0.1";
    EXPECT_EQ(run({"check-version"}).status, 0);
    EXPECT_EQ(relay.connections(), connections);
}

struct MistakeCase {
    const char* name;
    std::vector<std::string> arguments;  // "@ca" for an authority's file, "@server" for the bench
    std::map<std::string, std::string> environment;
    int status;
    const char* said;  // on standard error, once
};

class TransportMistakes : public ::testing::TestWithParam<MistakeCase> {};

TEST_P(TransportMistakes, AreToldAtStart) {
    const MistakeCase& c = GetParam();
    char pattern[] = "/tmp/zarvik-transport-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    std::string error;
    auto files = BenchCertificate_writeServerSet(dir, &error);
    ASSERT_TRUE(files) << error;
    BenchServer server;
    BenchServerOptions options;
    options.ftp = false;
    ASSERT_TRUE(server.start(options, &error)) << error;
    std::vector<std::string> arguments;
    for (std::string a : c.arguments) {
        if (a == "@ca") a = files->authority.string();
        if (a == "@server") a = "http://127.0.0.1:" + std::to_string(server.httpPort());
        arguments.push_back(a);
    }
    ProgramRun run = runProgram(cliPath(), arguments, c.environment);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(count(run.err, c.said), 1u) << run.err;
    // A refused start sends nothing anywhere.
    if (c.status == 2) {
        EXPECT_EQ(server.postsHeard(), 0);
    }
    fs::remove_all(dir);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, TransportMistakes, ::testing::Values(
    MistakeCase{"CaFileForAPlainServer", {"--server", "@server", "--ca-file", "@ca", "check-version"},
                {}, 2, "--ca-file is for TLS, and nothing goes over TLS to http://127.0.0.1:"},
    MistakeCase{"CaFileIsADirectory", {"--server", "https://a.test", "--ca-file", "/tmp",
                "check-version"}, {}, 2, "the certificate file /tmp (--ca-file) cannot be used: it "
                "is a directory"},
    MistakeCase{"CaBundleIsEmpty", {"--server", "https://a.test", "check-version"},
                {{"CURL_CA_BUNDLE", "/dev/null"}}, 2,
                "the certificate file /dev/null (CURL_CA_BUNDLE) cannot be used"},
    MistakeCase{"MalformedProxy", {"--server", "@server", "check-version"},
                {{"http_proxy", "http://proxy.test:3128/path"}}, 2,
                "not a proxy address (a proxy address takes no path): "
                "http_proxy=http://proxy.test:3128/path"},
    MistakeCase{"FtpTlsWithAPlainServer", {"--server", "@server", "--ftp-tls", "check-version"},
                {}, 0, "zarvik-cli: warning: requests to http://127.0.0.1:"}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

// A server that offers nothing newer than TLS 1.1 is refused by the updater's own floor,
// even where the system's OpenSSL would let it through (here by a configuration that
// allows TLS 1.0 at security level 0, as older systems have).
TEST(OutdatedTls, IsRefusedByTheUpdatersOwnFloor) {
    char pattern[] = "/tmp/zarvik-floor-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    std::string error;
    auto files = BenchCertificate_writeServerSet(dir, &error);
    ASSERT_TRUE(files) << error;
    std::ofstream(dir / "permissive.cnf")
        << "openssl_conf = conf\n[conf]\nssl_conf = ssl\n[ssl]\nsystem_default = defaults\n"
           "[defaults]\nMinProtocol = TLSv1\nCipherString = DEFAULT@SECLEVEL=0\n";
    BenchServer server;
    BenchServerOptions options;
    options.ftp = false;
    options.tlsCertificate = files->certificate;
    options.tlsKey = files->key;
    options.outdatedTls = true;
    ASSERT_TRUE(server.start(options, &error)) << error;
    const std::string address = "https://127.0.0.1:" + std::to_string(server.httpPort());
    ProgramRun run = runProgram(
        cliPath(), {"--server", address, "--ca-file", files->authority.string(), "check-version"},
        {{"OPENSSL_CONF", (dir / "permissive.cnf").string()}});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("The server " + address +
                           " failed the security check: it offers only TLS versions older than "
                           "1.2. Nothing was sent to it."),
              std::string::npos)
        << run.err;
    EXPECT_EQ(server.postsHeard(), 0);
    server.stop();
    fs::remove_all(dir);
}

}  // namespace

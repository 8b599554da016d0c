// Where the session is pointed, and uploads over real FTP with their progress.
#include "bench_fixture.h"
#include "server/server_request.h"

struct ConfigCase {
    const char* name;
    std::string option;
    ServerEnvironment environment;
    const char* resolved;  // host, upload host, upload account, TLS, or why not
    TransportOptions transport = {};
};

class ServerConfigResolve : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ServerConfigResolve, OptionThenEnvironmentThenBuild) {
    const ConfigCase& c = GetParam();
    std::string error;
    auto config = ServerConfig_resolve(c.option, c.environment, &error, c.transport);
    if (!config) {
        EXPECT_EQ(error.empty() ? "rejected silently" : "rejected", std::string(c.resolved));
        return;
    }
    // Without an account from the environment, the build's own.
    const std::string account = c.environment.ftpUser
                                    ? config->uploadUser + ":" + config->uploadPassword
                                    : (config->uploadUser.empty() ? "none" : "build");
    const std::string tls = std::string(config->https ? " https" : "") +
                            (config->ftpTls ? " ftps" : "") +
                            (config->caFile.empty() ? "" : " ca " + config->caFile);
    EXPECT_EQ(config->host + " " + config->uploadHost + " " + account + tls, c.resolved);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ServerConfigResolve, ::testing::Values(
    ConfigCase{"option", "127.0.0.1:8080", {}, "127.0.0.1:8080/ 127.0.0.1/ build"},
    ConfigCase{"option_wins", "a.test", {.server = "b.test"}, "a.test/ a.test/ build"},
    ConfigCase{"environment", "", {.server = "b.test:81/"}, "b.test:81/ b.test/ build"},
    ConfigCase{"ftp_port", "", {.server = "b.test", .ftpPort = "2121"}, "b.test/ b.test:2121/ build"},
    ConfigCase{"ftp_account", "a.test", {.ftpUser = "u", .ftpPassword = "p"}, "a.test/ a.test/ u:p"},
    ConfigCase{"ipv6", "[::1]:80", {}, "[::1]:80/ [::1]/ build"},
    ConfigCase{"port_zero", "a.test:0", {}, "rejected"},
    ConfigCase{"http", "http://a.test/", {}, "a.test/ a.test/ build"},
    ConfigCase{"https", "HTTPS://a.test:8443", {}, "a.test:8443/ a.test/ build https ftps"},
    ConfigCase{"https_environment", "", {.server = "https://b.test"}, "b.test/ b.test/ build https ftps"},
    ConfigCase{"ftp_tls_alone", "a.test", {}, "a.test/ a.test/ build ftps", {.ftpTls = true}},
    ConfigCase{"ca_file_option_wins", "https://a.test", {.caFile = "/nonexistent"},
               "a.test/ a.test/ build https ftps ca /dev/null", {.caFile = "/dev/null"}},
    ConfigCase{"ca_file_unused_without_tls", "a.test", {.caFile = "/nonexistent"},
               "a.test/ a.test/ build ca /nonexistent"},
    ConfigCase{"ca_file_unreadable", "https://a.test", {.caFile = "/nonexistent"}, "rejected"},
    ConfigCase{"other_scheme", "file:///etc/passwd", {}, "rejected"},
    ConfigCase{"ftp_scheme", "ftp://a.test", {}, "rejected"},
    ConfigCase{"empty_host", "https://", {}, "rejected"},
    ConfigCase{"empty_host_with_port", "https://:443", {}, "rejected"},
    ConfigCase{"port_out_of_range", "https://a.test:65536", {}, "rejected"},
    ConfigCase{"userinfo", "https://user:pw@a.test", {}, "rejected"},
    ConfigCase{"path", "https://a.test/ktx/", {}, "rejected"},
    ConfigCase{"query", "a.test?x=1", {}, "rejected"},
    ConfigCase{"two_ports", "a.test:1:2", {}, "rejected"},
    ConfigCase{"bad_ftp_port", "a.test", {.ftpPort = "ftp"}, "rejected"}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

class FtpUpload : public BenchTest, public ::testing::WithParamInterface<int32_t> {
  protected:
    bool withFtp() const override { return true; }
};

// Stored under the request path, as the backup workflow names it.
TEST_P(FtpUpload, ArrivesWholeWithItsProgress) {
    int32_t size = GetParam();
    std::vector<int> percents;
    session()->uploadProgress = [&](int percent) { percents.push_back(percent); };
    std::string bytes = patternBytes(static_cast<size_t>(size), 77);
    ServerSession_setPath(session(), "77.pak");
    ServerSession_upload(session(), makeByteString(bytes).get());
    EXPECT_EQ(readFile(server_.uploadDir() / "77.pak"), bytes);

    if (size < 10000) {
        EXPECT_TRUE(percents.empty());
    } else {
        ASSERT_GE(percents.size(), 2u);
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_GE(percents.front(), 0);
        EXPECT_EQ(percents[percents.size() - 2], 100);  // the last bytes
        EXPECT_EQ(percents.back(), 100);                // the call that ends the upload
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FtpUpload, ::testing::Values(0, 9999, 10000, 150000));

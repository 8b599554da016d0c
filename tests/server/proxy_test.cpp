// Behind a real proxy (tinyproxy on loopback, a relay in front of it keeping every byte the
// updater sent it): HTTPS only through a CONNECT tunnel with its checks unchanged, no_proxy
// obeyed, and the FTP upload tunnelled too, so that its account never crosses in clear.
#include <curl/curl.h>

#include "server/server_request.h"
#include "serversim/proxy_process.h"
#include "serversim/recording_relay.h"
#include "tls_bench.h"

namespace {

constexpr const char* kPassword = "pw-never-in-clear";

enum class Route {
    tunnel,    // through tinyproxy
    bypassed,  // no_proxy names the server
    refused,   // tinyproxy lets CONNECT reach port 443 only
    down,      // nothing listens where the proxy should be
    garbage,   // something answers that is no proxy
};

struct ProxiedCase {
    const char* name;
    bool https;    // the server and the upload over TLS
    bool expired;  // the server's certificate ended yesterday
    Route route;
    // The failure text with "@server", "@proxy" and "@refused" (libcurl's own words, which
    // its versions word differently); null: answered.
    const char* post;
    const char* upload;  // the same for the upload
};

std::string replaced(std::string text, const std::string& mark, const std::string& by) {
    for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), by);
    return text;
}

std::string expectedText(const char* text, const std::string& server, const std::string& proxy) {
    return replaced(replaced(replaced(text, "@server", server), "@proxy", proxy), "@refused",
                    curl_easy_strerror(CURLE_COULDNT_CONNECT));
}

class Proxied : public TlsBench, public ::testing::WithParamInterface<ProxiedCase> {
  protected:
    void TearDown() override {
        relay_.stop();
        proxy_.stop();
        TlsBench::TearDown();
    }

    // Where the updater is told the proxy is.
    int startRoute(Route route) {
        std::string error;
        ProxyProcess::Settings settings{dir_ / "proxy"};
        if (route == Route::refused) settings.connectPorts = {443};
        if (route == Route::tunnel || route == Route::bypassed || route == Route::refused) {
            EXPECT_TRUE(proxy_.start(settings, &error)) << error;
            EXPECT_TRUE(relay_.start(proxy_.port(), &error)) << error;
            return relay_.port();
        }
        if (route == Route::garbage) {
            EXPECT_TRUE(relay_.start(0, &error)) << error;
            return relay_.port();
        }
        RecordingRelay closed;  // a port that was just given up: nobody listens there
        EXPECT_TRUE(closed.start(0, &error));
        const int port = closed.port();
        closed.stop();
        return port;
    }

    ProxyProcess proxy_;
    RecordingRelay relay_;
};

TEST_P(Proxied, CarriesOnlyWhatIsTheServersOwn) {
    const ProxiedCase& c = GetParam();
    if (c.https) makeCertificates(c.expired ? Served::expired : Served::trusted);
    if (HasFatalFailure()) return;
    writeFile(dir_ / "catalogue" / "KTX2_BLEVersion.txt", "2.1");
    options_.catalogueDir = dir_ / "catalogue";
    options_.logPath = dir_ / "requests.log";
    options_.ftpPassword = kPassword;
    std::string error;
    ASSERT_TRUE(server_.start(options_, &error)) << error;
    const int proxyPort = startRoute(c.route);
    if (HasFailure()) return;
    const std::string proxy = "http://127.0.0.1:" + std::to_string(proxyPort);

    ServerEnvironment environment;
    environment.ftpPort = std::to_string(server_.ftpPort());
    environment.ftpPassword = kPassword;
    environment.ftpUser = "ktxupload";
    const ProxySetting setting{"all_proxy", proxy};
    environment.proxy = {.https = setting,
                         .ftp = setting,
                         .noProxy = c.route == Route::bypassed ? "localhost,127.0.0.1" : ""};
    environment.proxy.http = ProxySetting{"http_proxy", proxy};
    const std::string host = "127.0.0.1:" + std::to_string(server_.httpPort());
    auto config = ServerConfig_resolve((c.https ? "https://" : "http://") + host, environment,
                                       &error, {c.https ? (dir_ / "ca.pem").string() : ""});
    ASSERT_TRUE(config) << error;
    session_.reset(ServerSession_create());
    ServerSession_configure(session_.get(), *config);
    session_->timing.connectTimeout = Timing::ms(3000);
    session_->timing.lowSpeedTime = Timing::ms(3000);

    ByteStringPtr file(ServerRequest_download(session_.get(), "KTX2_BLEVersion.txt"));
    const std::string server = (c.https ? "https://" : "") + host;
    if (c.post == nullptr) {
        EXPECT_EQ(textOf(file.get()), "2.1") << ServerSession_failureText(session_.get());
    } else {
        EXPECT_EQ(file, nullptr);
        EXPECT_EQ(ServerSession_failureText(session_.get()), expectedText(c.post, server, proxy));
        EXPECT_EQ(server_.postsHeard(), 0);
    }

    ServerSession_setPath(session_.get(), "77.pak");
    const int stored = ServerSession_upload(session_.get(), makeByteString("backup").get());
    const std::string ftpHost = "127.0.0.1:" + std::to_string(server_.ftpPort());
    if (c.upload == nullptr) {
        EXPECT_EQ(stored, 1) << ServerSession_uploadFailureText(session_.get());
        EXPECT_EQ(readFile(server_.uploadDir() / "77.pak"), "backup");
    } else {
        EXPECT_EQ(stored, 0);
        EXPECT_EQ(ServerSession_uploadFailureText(session_.get()),
                  expectedText(c.upload, ftpHost, proxy));
        EXPECT_FALSE(fs::exists(server_.uploadDir() / "77.pak"));
    }

    // What the proxy was given: tunnels to the two servers, and nothing of theirs in clear.
    const std::string heard = relay_.heard();
    if (c.route == Route::bypassed) {
        EXPECT_EQ(relay_.connections(), 0);
    }
    if (c.route == Route::tunnel && c.https) {
        EXPECT_NE(heard.find("CONNECT " + host + " "), std::string::npos) << heard;
    }
    if (c.route == Route::tunnel || c.route == Route::refused) {
        EXPECT_NE(heard.find("CONNECT " + ftpHost + " "), std::string::npos) << heard;
    }
    EXPECT_EQ(heard.find("PUT "), std::string::npos) << heard;
    EXPECT_EQ(heard.find("ftp://"), std::string::npos) << heard;
    EXPECT_EQ(heard.find("Authorization:"), std::string::npos) << heard;
    if (c.https) {
        EXPECT_EQ(heard.find(kPassword), std::string::npos) << heard;
        EXPECT_EQ(heard.find("POST "), std::string::npos) << heard;
    }
}

const char* const kRefusedTunnel =
    "The FTP server @server could not be reached through the proxy @proxy: the proxy refused "
    "the tunnel (HTTP 403).";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Routes, Proxied, ::testing::Values(
    ProxiedCase{"TlsThroughTheTunnel", true, false, Route::tunnel, nullptr, nullptr},
    ProxiedCase{"PlainFtpStillTunnelled", false, false, Route::tunnel, nullptr, nullptr},
    ProxiedCase{"NoProxyObeyed", true, false, Route::bypassed, nullptr, nullptr},
    ProxiedCase{"ExpiredCertificateBehindTheProxy", true, true, Route::tunnel,
                "The server @server (through the proxy @proxy) failed the security check: its "
                "certificate has expired. Nothing was sent to it.",
                "The FTP server @server (through the proxy @proxy) failed the security check: its "
                "certificate has expired. Nothing was sent to it."},
    ProxiedCase{"TunnelRefused", true, false, Route::refused,
                "The server @server could not be reached through the proxy @proxy: the proxy "
                "refused the tunnel (HTTP 403).", kRefusedTunnel},
    ProxiedCase{"ProxyDown", true, false, Route::down,
                "The server @server could not be reached through the proxy @proxy: the proxy does "
                "not answer (@refused).",
                "The FTP server @server could not be reached through the proxy @proxy: the proxy "
                "does not answer (@refused)."},
    ProxiedCase{"NoProxyAnswers", true, false, Route::garbage,
                "The server @server could not be reached through the proxy @proxy: the proxy gave "
                "no answer a proxy gives.",
                "The FTP server @server could not be reached through the proxy @proxy: the proxy "
                "gave no answer a proxy gives."}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

}  // namespace

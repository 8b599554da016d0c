// TLS against the real bench servers with certificates made here: a server that fails its
// check is told apart by its reason, and never receives a request body or the account.
#include <algorithm>

#include "bench_fixture.h"
#include "server/server_request.h"
#include "serversim/bench_certificates.h"

namespace {

enum class Served {
    plain,       // no TLS at all
    otherHost,   // a certificate of the trusted authority, for another host name
    expired,     // of the trusted authority, for 127.0.0.1, ended yesterday
    unknownCa,   // for 127.0.0.1, from an authority the client does not know
    selfSigned,  // for 127.0.0.1, signed by itself
};

struct RefusalCase {
    const char* name;
    Served served;
    const char* address;      // scheme of the client's server address
    bool ftpTls;              // --ftp-tls
    const char* postCause;    // null: the POSTs go through (plain HTTP asked)
    const char* uploadCause;  // why the upload fails
};

class SecureRefusal : public ::testing::TestWithParam<RefusalCase> {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zarvik-tls-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        session_.reset();
        server_.stop();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // The authority the client trusts, and the certificate the server shows.
    void makeCertificates(Served served) {
        using namespace std::chrono_literals;
        auto trusted =
            BenchCertificate_make({.commonName = "trusted CA", .authority = true}, nullptr);
        ASSERT_TRUE(trusted);
        ASSERT_TRUE(BenchCertificate_write(*trusted, dir_ / "ca.pem", {}));
        CertificateRequest leaf{.commonName = "127.0.0.1", .hostNames = {"127.0.0.1"}};
        const BenchCertificate* issuer = &*trusted;
        std::optional<BenchCertificate> unknown;
        switch (served) {
            case Served::plain:
                return;
            case Served::otherHost:
                leaf.hostNames = {"other.test"};
                break;
            case Served::expired:
                leaf.validFrom = -48h;
                leaf.validUntil = -24h;
                break;
            case Served::unknownCa:
                unknown =
                    BenchCertificate_make({.commonName = "unknown CA", .authority = true}, nullptr);
                ASSERT_TRUE(unknown);
                issuer = &*unknown;
                break;
            case Served::selfSigned:
                issuer = nullptr;
                break;
        }
        auto certificate = BenchCertificate_make(leaf, issuer);
        ASSERT_TRUE(certificate);
        ASSERT_TRUE(BenchCertificate_write(*certificate, dir_ / "server.pem", dir_ / "server.key"));
        options_.tlsCertificate = dir_ / "server.pem";
        options_.tlsKey = dir_ / "server.key";
    }

    fs::path dir_;
    BenchServerOptions options_;
    BenchServer server_;
    ServerSessionPtr session_;
};

bool heardAccount(const std::vector<std::string>& commands) {
    return std::ranges::any_of(commands,
                               [](const std::string& c) { return c == "USER" || c == "PASS"; });
}

TEST_P(SecureRefusal, FailsWithItsReasonBeforeAnythingIsSent) {
    const RefusalCase& c = GetParam();
    makeCertificates(c.served);
    if (HasFatalFailure()) return;
    writeFile(dir_ / "catalogue" / "KTX2_BLEVersion.txt", "2.1");
    options_.catalogueDir = dir_ / "catalogue";
    options_.logPath = dir_ / "requests.log";
    std::string error;
    ASSERT_TRUE(server_.start(options_, &error)) << error;

    ServerEnvironment environment;
    environment.ftpPort = std::to_string(server_.ftpPort());
    const std::string server = "127.0.0.1:" + std::to_string(server_.httpPort());
    auto config = ServerConfig_resolve(c.address + server, environment, &error,
                                       {(dir_ / "ca.pem").string(), c.ftpTls});
    ASSERT_TRUE(config) << error;
    session_.reset(ServerSession_create());
    ServerSession_configure(session_.get(), *config);
    session_->timing.connectTimeout = Timing::ms(2000);
    session_->timing.lowSpeedTime = Timing::ms(1000);

    ByteStringPtr file(ServerRequest_download(session_.get(), "KTX2_BLEVersion.txt"));
    if (c.postCause == nullptr) {
        EXPECT_EQ(textOf(file.get()), "2.1");
    } else {
        EXPECT_EQ(file, nullptr);
        EXPECT_EQ(ServerSession_failureText(session_.get()),
                  "The server https://" + server + " failed the security check: " + c.postCause +
                      ". Nothing was sent to it.");
        EXPECT_EQ(server_.postsHeard(), 0);
        EXPECT_TRUE(RequestLog_read(options_.logPath).empty());
    }

    ServerSession_setPath(session_.get(), "77.pak");
    EXPECT_EQ(ServerSession_upload(session_.get(), makeByteString("backup").get()), 0);
    EXPECT_NE(ServerSession_uploadFailureText(session_.get()).find(c.uploadCause),
              std::string::npos)
        << ServerSession_uploadFailureText(session_.get());
    EXPECT_FALSE(heardAccount(server_.ftpCommandsHeard()));
    EXPECT_FALSE(fs::exists(server_.uploadDir() / "77.pak"));
}

const char* const kNoTls = "it does not offer TLS";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Certificates, SecureRefusal, ::testing::Values(
    RefusalCase{"CertificateForAnotherHost", Served::otherHost, "https://", false,
                "the host name does not match its certificate",
                "the host name does not match its certificate"},
    RefusalCase{"ExpiredCertificate", Served::expired, "https://", false,
                "its certificate has expired", "its certificate has expired"},
    RefusalCase{"UnknownAuthority", Served::unknownCa, "https://", false,
                "its certificate is from an unknown certificate authority",
                "its certificate is from an unknown certificate authority"},
    RefusalCase{"SelfSigned", Served::selfSigned, "https://", false,
                "its certificate is self-signed and not trusted",
                "its certificate is self-signed and not trusted"},
    RefusalCase{"PlainServerWhenHttpsAsked", Served::plain, "https://", false, kNoTls, kNoTls},
    RefusalCase{"PlainFtpWhenTlsAsked", Served::plain, "http://", true, nullptr, kNoTls}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

}  // namespace

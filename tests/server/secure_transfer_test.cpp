// TLS against the real bench servers with certificates made here: a server that fails its
// check is told apart by its reason, and never receives a request body or the account.
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string_view>

#include "server/server_request.h"
#include "serversim/bench_certificates.h"
#include "serversim/recording_relay.h"
#include "tls_bench.h"

namespace {

struct RefusalCase {
    const char* name;
    Served served;
    const char* address;      // scheme of the client's server address
    bool ftpTls;              // --ftp-tls
    const char* postCause;    // null: the POSTs go through (plain HTTP asked)
    const char* uploadCause;  // why the upload fails
};

const char* const kBadRequest =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

class SecureRefusal : public TlsBench, public ::testing::WithParamInterface<RefusalCase> {};

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
    // A plain web server answers a TLS greeting at once, as the common ones do ("400 Bad
    // Request"). The bench's own, with cpp-httplib 0.18, says nothing until its read
    // time-out: a server that does not answer, not one that answers without TLS.
    RecordingRelay plainWeb;
    int httpPort = server_.httpPort();
    if (c.served == Served::plain && std::string_view(c.address) == "https://") {
        ASSERT_TRUE(plainWeb.start(0, &error, kBadRequest)) << error;
        httpPort = plainWeb.port();
    }

    ServerEnvironment environment;
    environment.ftpPort = std::to_string(server_.ftpPort());
    const std::string server = "127.0.0.1:" + std::to_string(httpPort);
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

// A CA file the user names replaces the system's trust, its directory included: libcurl has
// one compiled in (/etc/ssl/certs on Debian) that CURLOPT_CAINFO alone leaves trusted. In a
// mount namespace of its own, the test puts the server's authority into that directory, as
// a private CA installed on the desktop would be, and names another one.
std::string systemCaDirectory() {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
    char* path = nullptr;
    if (curl_easy_getinfo(handle.get(), CURLINFO_CAPATH, &path) != CURLE_OK || path == nullptr) {
        return "";
    }
    return path;
}

// The file name OpenSSL looks an authority up by in a CA directory.
std::string hashedName(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    if (certificate == nullptr) return "";
    char name[32];
    std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(certificate.get()));
    return name;
}

TEST_F(TlsBench, NamedTrustStoreReplacesTheSystemsDirectory) {
    const std::string capath = systemCaDirectory();
    if (capath.empty() || !fs::is_directory(capath)) {
        GTEST_SKIP() << "libcurl has no CA directory of its own here";
    }
    auto authority =
        BenchCertificate_make({.commonName = "desktop CA", .authority = true}, nullptr);
    auto other = BenchCertificate_make({.commonName = "named CA", .authority = true}, nullptr);
    ASSERT_TRUE(authority && other);
    ASSERT_TRUE(BenchCertificate_write(*other, dir_ / "named.pem", {}));
    auto leaf =
        BenchCertificate_make({.commonName = "127.0.0.1", .hostNames = {"127.0.0.1"}}, &*authority);
    ASSERT_TRUE(leaf);
    ASSERT_TRUE(BenchCertificate_write(*leaf, dir_ / "server.pem", dir_ / "server.key"));
    const fs::path system = dir_ / "system-certs";
    writeFile(system / hashedName(authority->certificatePem), authority->certificatePem);
    writeFile(system / "ca-certificates.crt", authority->certificatePem);
    writeFile(dir_ / "catalogue" / "KTX2_BLEVersion.txt", "2.1");
    options_.catalogueDir = dir_ / "catalogue";
    options_.tlsCertificate = dir_ / "server.pem";
    options_.tlsKey = dir_ / "server.key";
    options_.ftp = false;
    std::string error;
    ASSERT_TRUE(server_.start(options_, &error)) << error;
    const std::string server = "https://127.0.0.1:" + std::to_string(server_.httpPort());

    // The child sees the test's directory where the system's is; the parent and the machine
    // never do.
    const fs::path results = dir_ / "results.txt";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(77);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(system.c_str(), capath.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            _exit(77);
        }
        std::ofstream out(results);
        for (const std::string& caFile : {std::string(), (dir_ / "named.pem").string()}) {
            std::string why;
            auto config = ServerConfig_resolve(server, ServerEnvironment{}, &why, {caFile});
            ServerSessionPtr session(ServerSession_create());
            if (config) ServerSession_configure(session.get(), *config);
            ByteStringPtr file(ServerRequest_download(session.get(), "KTX2_BLEVersion.txt"));
            out << (file != nullptr ? textOf(file.get()) : ServerSession_failureText(session.get()))
                << "\n";
        }
        out.close();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace can be made here";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    std::istringstream lines(readFile(results));
    std::string systemTrust, namedTrust;
    std::getline(lines, systemTrust);
    std::getline(lines, namedTrust);
    EXPECT_EQ(systemTrust, "2.1");  // the directory really is the system's trust
    EXPECT_EQ(namedTrust, "The server " + server +
                              " failed the security check: its certificate is from an unknown "
                              "certificate authority. Nothing was sent to it.");
}

// A peer that hangs up in the middle of the handshake has said nothing about security: that
// is a connection that failed, and told as one.
TEST_F(TlsBench, HandshakeCutShortIsAConnectionFailure) {
    RecordingRelay closed, hangsUp;
    std::string error;
    ASSERT_TRUE(closed.start(0, &error));
    const int nobody = closed.port();
    closed.stop();
    ASSERT_TRUE(hangsUp.start(nobody, &error)) << error;  // accepts, then closes at once
    const std::string server = "https://127.0.0.1:" + std::to_string(hangsUp.port());
    auto config = ServerConfig_resolve(server, ServerEnvironment{}, &error);
    ASSERT_TRUE(config) << error;
    session_.reset(ServerSession_create());
    ServerSession_configure(session_.get(), *config);
    ByteStringPtr file(ServerRequest_download(session_.get(), "KTX2_BLEVersion.txt"));
    EXPECT_EQ(file, nullptr);
    const std::string text = ServerSession_failureText(session_.get());
    EXPECT_TRUE(text.starts_with("The server " + server +
                                 " could not be reached: the connection was closed during the "
                                 "TLS handshake"))
        << text;
    EXPECT_EQ(session_->failure.kind, FailureKind::unreachable);
}

}  // namespace

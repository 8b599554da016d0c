// TLS servers on loopback with certificates made for each test: the authority the client
// trusts (ca.pem in the test's folder) and the certificate the bench server shows.
#pragma once

#include <chrono>
#include <optional>

#include "bench_fixture.h"
#include "serversim/bench_certificates.h"

enum class Served {
    plain,       // no TLS at all
    trusted,     // of the trusted authority, for 127.0.0.1
    otherHost,   // a certificate of the trusted authority, for another host name
    expired,     // of the trusted authority, for 127.0.0.1, ended yesterday
    unknownCa,   // for 127.0.0.1, from an authority the client does not know
    selfSigned,  // for 127.0.0.1, signed by itself
};

class TlsBench : public ::testing::Test {
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
            case Served::trusted:
                break;
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

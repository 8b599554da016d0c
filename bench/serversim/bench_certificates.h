// Certificates for the bench's TLS, made on the spot: a private authority and server
// certificates it signs, or any of the faulty kinds a client must refuse.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct BenchCertificate {
    std::string certificatePem;
    std::string keyPem;
};

struct CertificateRequest {
    std::string commonName;
    std::vector<std::string> hostNames;  // subject alternative names: IPv4 literals or DNS names
    bool authority = false;
    // Validity relative to now; an expired certificate ends before it.
    std::chrono::seconds validFrom{-3600};
    std::chrono::seconds validUntil{std::chrono::hours(24 * 30)};
};

// Signed by `issuer`, or self-signed when it is null. Nothing when OpenSSL fails.
std::optional<BenchCertificate> BenchCertificate_make(const CertificateRequest& request,
                                                      const BenchCertificate* issuer);

// The certificate to `certificateFile` and, when `keyFile` is not empty, the key to
// `keyFile` (readable by its owner only).
bool BenchCertificate_write(const BenchCertificate& certificate,
                            const std::filesystem::path& certificateFile,
                            const std::filesystem::path& keyFile);

// A private authority and a server certificate for 127.0.0.1 and localhost under it,
// written into `dir` as bench-ca.pem, bench-server.pem and bench-server.key.
struct BenchTlsFiles {
    std::filesystem::path authority;
    std::filesystem::path certificate;
    std::filesystem::path key;
};
std::optional<BenchTlsFiles> BenchCertificate_writeServerSet(const std::filesystem::path& dir,
                                                             std::string* error);

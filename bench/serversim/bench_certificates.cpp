#include "bench_certificates.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <random>

namespace {

template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, OpenSslDeleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO, BIO_free_all>>;

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

bool addExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
    if (ext == nullptr) return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

std::string alternativeNames(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) {
        in_addr ignored{};
        const bool ip = inet_pton(AF_INET, name.c_str(), &ignored) == 1;
        // Appended, not concatenated: GCC bug 105329 (a false -Wrestrict at -O3).
        if (!text.empty()) text += ',';
        text += ip ? "IP:" : "DNS:";
        text += name;
    }
    return text;
}

KeyPtr readKey(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return KeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

CertPtr readCertificate(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return CertPtr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

bool writeText(const std::filesystem::path& path, const std::string& text, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    const bool ok = ::fchmod(fd, mode) == 0 &&
                    ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && ok;
}

}  // namespace

std::optional<BenchCertificate> BenchCertificate_make(const CertificateRequest& request,
                                                      const BenchCertificate* issuer) {
    // P-256 keys: quick to make, so every test can have its own.
    KeyPtr key(EVP_EC_gen("P-256"));
    CertPtr cert(X509_new());
    if (key == nullptr || cert == nullptr) return std::nullopt;
    KeyPtr issuerKey;
    CertPtr issuerCert;
    if (issuer != nullptr) {
        issuerKey = readKey(issuer->keyPem);
        issuerCert = readCertificate(issuer->certificatePem);
        if (issuerKey == nullptr || issuerCert == nullptr) return std::nullopt;
    }
    X509_set_version(cert.get(), 2);
    std::random_device random;
    ASN1_INTEGER_set_int64(X509_get_serialNumber(cert.get()),
                           (int64_t{random()} << 20 | random()) & INT64_C(0x7fffffffffff));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), static_cast<long>(request.validFrom.count()));
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), static_cast<long>(request.validUntil.count()));
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("zarvik bench"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(request.commonName.c_str()),
                               -1, -1, 0);
    X509* signer = issuerCert != nullptr ? issuerCert.get() : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));

    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, signer, cert.get(), nullptr, nullptr, 0);
    bool ok = addExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash") &&
              addExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    if (request.authority) {
        ok = ok && addExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE") &&
             addExtension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && addExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE") &&
             addExtension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature") &&
             addExtension(cert.get(), &ctx, NID_ext_key_usage, "serverAuth");
        if (!request.hostNames.empty()) {
            ok = ok && addExtension(cert.get(), &ctx, NID_subject_alt_name,
                                    alternativeNames(request.hostNames));
        }
    }
    EVP_PKEY* signingKey = issuerKey != nullptr ? issuerKey.get() : key.get();
    if (!ok || X509_sign(cert.get(), signingKey, EVP_sha256()) == 0) return std::nullopt;

    BioPtr certBio(BIO_new(BIO_s_mem()));
    BioPtr keyBio(BIO_new(BIO_s_mem()));
    if (PEM_write_bio_X509(certBio.get(), cert.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1) {
        return std::nullopt;
    }
    return BenchCertificate{bioText(certBio.get()), bioText(keyBio.get())};
}

bool BenchCertificate_write(const BenchCertificate& certificate,
                            const std::filesystem::path& certificateFile,
                            const std::filesystem::path& keyFile) {
    if (!writeText(certificateFile, certificate.certificatePem, 0644)) return false;
    return keyFile.empty() || writeText(keyFile, certificate.keyPem, 0600);
}

std::optional<BenchTlsFiles> BenchCertificate_writeServerSet(const std::filesystem::path& dir,
                                                             std::string* error) {
    auto authority =
        BenchCertificate_make({.commonName = "zarvik bench CA", .authority = true}, nullptr);
    std::optional<BenchCertificate> server;
    if (authority) {
        server = BenchCertificate_make(
            {.commonName = "127.0.0.1", .hostNames = {"127.0.0.1", "localhost"}}, &*authority);
    }
    if (!server) {
        if (error != nullptr) *error = "cannot make the bench certificates";
        return std::nullopt;
    }
    BenchTlsFiles files{dir / "bench-ca.pem", dir / "bench-server.pem", dir / "bench-server.key"};
    if (!BenchCertificate_write(*authority, files.authority, {}) ||
        !BenchCertificate_write(*server, files.certificate, files.key)) {
        if (error != nullptr) *error = "cannot write the bench certificates into " + dir.string();
        return std::nullopt;
    }
    return files;
}

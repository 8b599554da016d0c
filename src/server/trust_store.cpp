#include "server/trust_store.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};

}  // namespace

std::string TrustStore_problem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::string("it cannot be read: ") + std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return "it is a directory, not a file of certificates";
    if (!S_ISREG(info.st_mode)) return "it is not a regular file";
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
    if (file == nullptr) return std::string("it cannot be read: ") + std::strerror(errno);
    if (info.st_size == 0) return "it is empty";
    int certificates = 0;
    ERR_clear_error();
    for (;;) {
        std::unique_ptr<X509, X509Free> certificate(
            PEM_read_X509_AUX(file.get(), nullptr, nullptr, nullptr));
        if (certificate == nullptr) break;
        ++certificates;
    }
    // Trusted certificates (OpenSSL's own bundle form) count as well. The loop ends at the
    // end of the file (no PEM start line left) or at a broken one.
    const unsigned long error = ERR_peek_last_error();
    ERR_clear_error();
    const bool atEnd =
        ERR_GET_LIB(error) == ERR_LIB_PEM && ERR_GET_REASON(error) == PEM_R_NO_START_LINE;
    if (error != 0 && !atEnd) return "it holds a certificate that cannot be read (not PEM)";
    if (certificates == 0) return "it holds no PEM certificate";
    return "";
}

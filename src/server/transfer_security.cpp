#include "server/transfer_security.h"

#include <initializer_list>
#include <string_view>

#include "server/server_session.h"

namespace {

// OpenSSL's verification codes, as libcurl's OpenSSL backend reports them.
constexpr long kUnableToGetIssuer = 2;
constexpr long kNotYetValid = 9;
constexpr long kExpired = 10;
constexpr long kSelfSigned = 18;
constexpr long kSelfSignedInChain = 19;
constexpr long kUnableToGetIssuerLocally = 20;
constexpr long kUnableToVerifyLeaf = 21;
constexpr long kRevoked = 23;
constexpr long kHostNameMismatch = 62;

bool containsAny(std::string_view text, std::initializer_list<std::string_view> signs) {
    for (std::string_view sign : signs) {
        if (text.find(sign) != std::string_view::npos) return true;
    }
    return false;
}

// A plain-text server answers a TLS greeting with bytes that are no TLS record.
bool plainTextAnswer(std::string_view detail) {
    return containsAny(detail, {"wrong version number", "packet length too long",
                                "record layer failure", "http request"});
}

// A server whose newest TLS is older than our floor: it alerts, or answers with it.
bool outdatedProtocol(std::string_view detail) {
    return containsAny(
        detail, {"unsupported protocol", "alert protocol version", "no protocols available"});
}

}  // namespace

std::string TransferSecurity_certificateCause(long verifyResult, const char* detail) {
    switch (verifyResult) {
        case kExpired:
            return "its certificate has expired";
        case kNotYetValid:
            return "its certificate is not valid yet";
        case kSelfSigned:
        case kSelfSignedInChain:
            return "its certificate is self-signed and not trusted";
        case kUnableToGetIssuer:
        case kUnableToGetIssuerLocally:
        case kUnableToVerifyLeaf:
            return "its certificate is from an unknown certificate authority";
        case kRevoked:
            return "its certificate has been revoked";
        case kHostNameMismatch:
            return "the host name does not match its certificate";
        default:
            return TransferSecurity_withDetail("its certificate could not be verified", detail);
    }
}

std::string TransferSecurity_withDetail(const std::string& cause, const char* detail) {
    if (detail == nullptr || *detail == 0) return cause;
    return cause + " (" + detail + ")";
}

void TransferSecurity_apply(CURL* handle, const ServerSession& session) {
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    if (!session.caFile.empty()) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, session.caFile.c_str());
        // Debian's libcurl also trusts a directory of its own (/etc/ssl/certs): without
        // this, every authority there would still be trusted beside the named ones.
        curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    }
    // An https:// proxy is checked as well, against the system's store.
    curl_easy_setopt(handle, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_PROXY_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
}

bool TransferSecurity_handshakeCut(CURLcode result, const char* detail) {
    if (result != CURLE_SSL_CONNECT_ERROR && result != CURLE_RECV_ERROR &&
        result != CURLE_SEND_ERROR) {
        return false;
    }
    const std::string_view text = detail != nullptr ? detail : "";
    return containsAny(text, {"SSL_ERROR_SYSCALL", "Connection reset", "connection reset",
                              "unexpected eof", "Broken pipe"});
}

std::string TransferSecurity_failureCause(CURL* handle, CURLcode result, const char* detail) {
    const std::string_view text = detail != nullptr ? detail : "";
    switch (result) {
        case CURLE_PEER_FAILED_VERIFICATION: {
            // The chain was good and libcurl's own name check refused it; its text says so.
            // libcurl 8 words an address apart from a name ("target ipv4 address").
            if (containsAny(text,
                            {"target host name", "target ipv4 address", "target ipv6 address"})) {
                return TransferSecurity_certificateCause(kHostNameMismatch, detail);
            }
            long verifyResult = 0;
            curl_easy_getinfo(handle, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
            return TransferSecurity_certificateCause(verifyResult, detail);
        }
        case CURLE_USE_SSL_FAILED:
            return "it does not offer TLS";
        case CURLE_SSL_CONNECT_ERROR:
            if (plainTextAnswer(text)) return "it does not offer TLS";
            if (outdatedProtocol(text)) return "it offers only TLS versions older than 1.2";
            return TransferSecurity_withDetail("the TLS handshake failed", detail);
        case CURLE_SSL_CACERT_BADFILE:
            return TransferSecurity_withDetail("the certificate file could not be used", detail);
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return TransferSecurity_withDetail("the TLS connection failed", detail);
        default:
            return "";
    }
}

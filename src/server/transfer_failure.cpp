#include "server/transfer_failure.h"

#include "server/ftp_dialogue.h"
#include "server/proxy_route.h"
#include "server/transfer_security.h"

namespace {

// The results an FTP server's refusal ends in; its reply then says why.
bool ftpRefusal(CURLcode result) {
    switch (result) {
        case CURLE_LOGIN_DENIED:
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_UPLOAD_FAILED:
        case CURLE_REMOTE_DISK_FULL:
        case CURLE_REMOTE_FILE_NOT_FOUND:
        case CURLE_QUOTE_ERROR:
        case CURLE_FTP_COULDNT_SET_TYPE:
        case CURLE_FTP_COULDNT_USE_REST:
        case CURLE_FTP_PORT_FAILED:
        case CURLE_FTP_WEIRD_PASV_REPLY:
        case CURLE_FTP_WEIRD_PASS_REPLY:
        case CURLE_FTP_WEIRD_227_FORMAT:
        case CURLE_FTP_ACCEPT_FAILED:
        case CURLE_WEIRD_SERVER_REPLY:
            return true;
        default:
            return false;
    }
}

// What a proxy that would not carry the transfer said.
std::string proxyRefusal(long code) {
    if (code == 407) return "the proxy asks for an account (HTTP 407)";
    return "the proxy refused the tunnel (HTTP " + std::to_string(code) + ")";
}

}  // namespace

TransferFailure TransferFailure_of(CURL* handle, CURLcode result, const char* detail,
                                   const ProxyRoute& proxy, const FtpDialogue* ftp) {
    TransferFailure failure;
    if (result == CURLE_OK) return failure;
    failure.proxy = proxy.shown;
    failure.kind = FailureKind::unreachable;
    const bool viaProxy = !proxy.address.empty();
    long connectCode = 0;
    curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (viaProxy && proxy.tunnel && connectCode >= 300) {
        failure.cause = proxyRefusal(connectCode);
        failure.nothingSent = true;
        failure.final = true;
        return failure;
    }
    if (result == CURLE_COULDNT_RESOLVE_PROXY) {
        failure.cause = "the proxy's host name could not be resolved";
        failure.nothingSent = true;
        return failure;
    }
    if (viaProxy && result == CURLE_COULDNT_CONNECT) {
        failure.cause =
            "the proxy does not answer (" + std::string(curl_easy_strerror(result)) + ")";
        failure.nothingSent = true;
        return failure;
    }
    // Before the tunnel stood, every byte that came back was the proxy's.
    if (viaProxy && proxy.tunnel && connectCode == 0 &&
        (result == CURLE_WEIRD_SERVER_REPLY || result == CURLE_RECV_ERROR ||
         result == CURLE_GOT_NOTHING || result == CURLE_PROXY)) {
        failure.cause = "the proxy gave no answer a proxy gives";
        failure.nothingSent = true;
        return failure;
    }
    if (TransferSecurity_handshakeCut(result, detail)) {
        failure.cause = TransferSecurity_withDetail(
            "the connection was closed during the TLS handshake", detail);
        failure.nothingSent = true;
        return failure;
    }
    if (std::string security = TransferSecurity_failureCause(handle, result, detail);
        !security.empty()) {
        failure.kind = FailureKind::security;
        failure.cause = security;
        // An FTP server is checked again on each data connection, after the login.
        failure.nothingSent = ftp == nullptr || !ftp->accountSent;
        failure.final = true;
        return failure;
    }
    // A data connection that failed the check is reported by libcurl as whatever the control
    // connection did next ("unknown PASV reply"); the verification result still tells.
    long verifyResult = 0;
    if (ftp != nullptr &&
        curl_easy_getinfo(handle, CURLINFO_SSL_VERIFYRESULT, &verifyResult) == CURLE_OK &&
        verifyResult != 0) {
        failure.kind = FailureKind::security;
        failure.cause = TransferSecurity_certificateCause(verifyResult, nullptr);
        failure.nothingSent = !ftp->accountSent;
        failure.final = true;
        return failure;
    }
    if (ftp != nullptr && ftpRefusal(result) && FtpDialogue_replyCode(*ftp) >= 400) {
        failure.kind = FailureKind::refused;
        failure.cause = ftp->lastReply;
        return failure;
    }
    failure.cause = curl_easy_strerror(result);
    return failure;
}

std::string TransferFailure_text(const TransferFailure& failure, std::string_view what,
                                 std::string server) {
    if (failure.kind == FailureKind::none) return "";
    if (!server.empty() && server.back() == '/') server.pop_back();
    const std::string who = "The " + std::string(what) + " " + server;
    switch (failure.kind) {
        case FailureKind::security: {
            std::string line = who;
            if (!failure.proxy.empty()) line += " (through the proxy " + failure.proxy + ")";
            line += " failed the security check: " + failure.cause + ".";
            if (failure.nothingSent) line += " Nothing was sent to it.";
            return line;
        }
        case FailureKind::refused: {
            std::string line = who + " refused the upload: " + failure.cause;
            if (line.back() != '.') line += '.';
            return line;
        }
        default: {
            std::string line = who + " could not be reached";
            if (!failure.proxy.empty()) line += " through the proxy " + failure.proxy;
            return line + ": " + failure.cause + ".";
        }
    }
}

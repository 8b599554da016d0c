// Why a transfer failed, told so that the user knows what happened and what was sent: a
// server that could not be reached (directly or through a proxy), one that failed the
// security check, or an FTP server that refused the upload in its own words.
#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>

struct FtpDialogue;
struct ProxyRoute;

enum class FailureKind { none, unreachable, security, refused };

struct TransferFailure {
    FailureKind kind = FailureKind::none;
    std::string cause;         // "its certificate has expired", "530 Login incorrect."
    std::string proxy;         // the proxy it went through, as shown; empty: none
    bool nothingSent = false;  // it ended before a request or the account left
    bool final = false;        // trying again cannot change it: a refusal, not a mishap
};

// `detail` is libcurl's error buffer; `ftp` the upload's dialogue, null for a POST.
TransferFailure TransferFailure_of(CURL* handle, CURLcode result, const char* detail,
                                   const ProxyRoute& proxy, const FtpDialogue* ftp);

// One line naming the server (`what` and `server`, as "FTP server" and "host:port/") and
// why; empty for no failure.
std::string TransferFailure_text(const TransferFailure& failure, std::string_view what,
                                 std::string server);

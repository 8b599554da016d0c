// The connection to the maker's web server: form POSTs over HTTP or HTTPS and uploads over
// FTP, plain or by explicit TLS, all on libcurl's easy interface. One session serves the whole
// process; it is used by one thread at a time.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

#include "core/timing.h"
#include "server/proxy_route.h"
#include "server/request_trace.h"
#include "server/transfer_failure.h"
#include "server/upload_progress.h"

struct ByteString;

inline constexpr const char* kUpdaterScript = "ktx/updaterComm.php";
inline constexpr const char* kQueryScript = "ktx/websiteQuery.php";

struct ServerSession {
    CURL* handle;             // reused for every POST
    ByteString* requestPath;  // without a leading "/"; may be null
    ByteString* host;         // host name (and port) followed by "/"; may be null
    ByteString* uploadUser;   // may be null
    ByteString* uploadPassword;
    ByteString* uploadHost;   // FTP host when it is not `host` (another port); may be null
    bool https;               // POSTs and browser addresses over TLS
    bool ftpTls;              // uploads by AUTH TLS, never in clear
    std::string caFile;       // trust store for the checks, instead of the system's; empty: it
    ProxyRoute proxy;         // for the POSTs; empty: direct, whatever the environment says
    ProxyRoute uploadProxy;   // for the upload, always as a tunnel
    std::string uploadTurns;  // where uploads of one file name take turns; empty: they do not
    Timing timing;
    RequestTraceFn trace;       // the request diagnostic; empty: silent
    ProgressFn uploadProgress;  // percentages of uploads of 10000 bytes or more
    bool lastTransferFailed;    // the last POST broke off or never reached the server
    // Why the last POST got no answer of the server's (libcurl's text or "HTTP 404"); none
    // when it got one. Readers still get what they always get: the reply.
    TransferFailure failure;
    TransferFailure uploadFailure;  // the same for the last upload
};

ServerSession* ServerSession_create();
void ServerSession_destroy(ServerSession* session);

void ServerSession_setPath(ServerSession* session, const char* path);
void ServerSession_setHost(ServerSession* session, const char* host);
void ServerSession_setUploadUser(ServerSession* session, const char* user);
void ServerSession_setUploadPassword(ServerSession* session, const char* password);
void ServerSession_setUploadHost(ServerSession* session, const char* host);

// Posts `body` to "http://" (or "https://") + host + request path. Never null: an
// unreachable server, a failed certificate check, a transfer that broke off or an
// oversized reply gives an empty reply.
ByteString* ServerSession_post(ServerSession* session, const ByteString* body);

// One line naming the server and why the last POST did not reach it; empty when it did.
std::string ServerSession_failureText(const ServerSession* session);

// "http://host[:port]/" or "https://...": where the browser addresses on the server start.
std::string ServerSession_webAddress(const ServerSession* session);

// Stores `data` on the FTP server under the request path: 1 when the server took it whole,
// 0 when the transfer failed (`uploadFailure` says why).
int ServerSession_upload(ServerSession* session, const ByteString* data);

// One line naming the FTP server and why the last upload failed; empty when it did not.
std::string ServerSession_uploadFailureText(const ServerSession* session);

struct ServerSessionDeleter {
    void operator()(ServerSession* s) const { ServerSession_destroy(s); }
};
using ServerSessionPtr = std::unique_ptr<ServerSession, ServerSessionDeleter>;

#include "server/server_session.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/byte_string.h"
#include "server/ftp_dialogue.h"
#include "server/transfer_security.h"

namespace {

// A reply beyond this is no answer of our server; refusing it keeps memory bounded.
constexpr int64_t kMaxReplyBytes = int64_t{256} << 20;
// Uploads shorter than this finish too fast for a progress bar to matter.
constexpr int32_t kUploadProgressMinimum = 10000;

struct ReplyCollector {
    ByteString* reply;
    bool overflow;
};

size_t collectReply(char* bytes, size_t size, size_t count, void* userData) {
    auto* collector = static_cast<ReplyCollector*>(userData);
    size_t n = size * count;
    if (collector->reply->length + static_cast<int64_t>(n) > kMaxReplyBytes) {
        collector->overflow = true;
        return 0;  // aborts the transfer
    }
    ByteString_appendBytes(collector->reply, bytes, static_cast<int32_t>(n));
    return n;
}

size_t discardReply(char*, size_t size, size_t count, void*) {
    return size * count;
}

struct UploadFeed {
    const ByteString* data;
    int32_t position;
    const ProgressFn* progress;
};

size_t feedUpload(char* buffer, size_t size, size_t count, void* userData) {
    auto* feed = static_cast<UploadFeed*>(userData);
    int64_t capacity = static_cast<int64_t>(size * count);
    int64_t remaining = feed->data->length - feed->position;
    int64_t n = std::min(capacity, remaining);
    if (n > 0) {
        std::memcpy(buffer, feed->data->data + feed->position, static_cast<size_t>(n));
        feed->position += static_cast<int32_t>(n);
    }
    // Reported on every call, the last one returning 0 included.
    if (feed->data->length >= kUploadProgressMinimum && *feed->progress) {
        (*feed->progress)(static_cast<int>(int64_t{feed->position} * 100 / feed->data->length));
    }
    return static_cast<size_t>(n);
}

void replaceText(ByteString** field, const char* text) {
    ByteString_free(*field);
    *field = text == nullptr ? nullptr : ByteString_fromText(text);
}

ByteStringPtr address(std::string_view scheme, const ByteString* host, const ByteString* path) {
    std::string_view h = ByteString_view(host);
    std::string_view p = ByteString_view(path);
    ByteStringPtr a(ByteString_create(static_cast<int32_t>(scheme.size() + h.size() + p.size())));
    ByteString_appendBytes(a.get(), scheme.data(), static_cast<int32_t>(scheme.size()));
    ByteString_appendBytes(a.get(), h.data(), static_cast<int32_t>(h.size()));
    ByteString_appendBytes(a.get(), p.data(), static_cast<int32_t>(p.size()));
    return a;
}

// A silent server must not hold the updater for ever; a slow but live one is never cut.
long lowSpeedSeconds(const Timing& timing) {
    return std::max(1L, static_cast<long>((timing.lowSpeedTime.count() + 999) / 1000));
}

// The route chosen at start, and nothing libcurl would find in the environment by itself.
void applyProxy(CURL* handle, const ProxyRoute& route) {
    curl_easy_setopt(handle, CURLOPT_PROXY, route.address.c_str());
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "");
    curl_easy_setopt(handle, CURLOPT_HTTPPROXYTUNNEL, route.tunnel ? 1L : 0L);
}

void applyLimits(CURL* handle, const Timing& timing) {
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::max<int64_t>(1, timing.connectTimeout.count())));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, timing.lowSpeedLimit));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds(timing));
}

}  // namespace

ServerSession* ServerSession_create() {
    curl_global_init(CURL_GLOBAL_ALL);
    auto* session = new ServerSession{};
    session->handle = curl_easy_init();
    return session;
}

void ServerSession_destroy(ServerSession* session) {
    if (session == nullptr) return;
    ByteString* texts[] = {session->requestPath, session->host, session->uploadUser,
                           session->uploadPassword, session->uploadHost};
    for (ByteString* s : texts) ByteString_free(s);
    if (session->handle != nullptr) curl_easy_cleanup(session->handle);
    delete session;
    curl_global_cleanup();
}

void ServerSession_setPath(ServerSession* session, const char* path) {
    replaceText(&session->requestPath, path);
}
void ServerSession_setHost(ServerSession* session, const char* host) {
    replaceText(&session->host, host);
}
void ServerSession_setUploadUser(ServerSession* session, const char* user) {
    replaceText(&session->uploadUser, user);
}
void ServerSession_setUploadPassword(ServerSession* session, const char* password) {
    replaceText(&session->uploadPassword, password);
}
void ServerSession_setUploadHost(ServerSession* session, const char* host) {
    replaceText(&session->uploadHost, host);
}

ByteString* ServerSession_post(ServerSession* session, const ByteString* body) {
    ByteStringPtr reply(ByteString_create(5000));
    session->lastTransferFailed = true;
    CURL* handle = session->handle;
    if (handle == nullptr) {
        session->failure = {FailureKind::unreachable, "no transfer could be set up"};
        return reply.release();
    }

    ByteStringPtr url =
        address(session->https ? "https://" : "http://", session->host, session->requestPath);
    ReplyCollector collector{reply.get(), false};
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle, CURLOPT_URL, reinterpret_cast<const char*>(url->data));
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body->data);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->length));
    curl_easy_setopt(handle, CURLOPT_HEADER, 0L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collectReply);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &collector);
    // Only the scheme asked for: never plain text in place of TLS.
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, session->https ? "https" : "http");
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, detail);
    TransferSecurity_apply(handle, *session);
    applyProxy(handle, session->proxy);
    applyLimits(handle, session->timing);
    CURLcode result = curl_easy_perform(handle);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);
    // A reply cut short is not the server's answer: pass nothing on rather than a fragment.
    if (result != CURLE_OK || collector.overflow) {
        ByteString_assignBytes(reply.get(), "", 0);
        session->failure = TransferFailure_of(handle, result, detail, session->proxy, nullptr);
        if (collector.overflow) {
            session->failure = {FailureKind::unreachable, "the reply was too large",
                                session->proxy.shown};
        }
        return reply.release();
    }
    session->lastTransferFailed = false;
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    // An HTTP error's body goes on as before; readers find no status word in it.
    session->failure = {};
    if (status >= 400) {
        session->failure = {FailureKind::unreachable, "HTTP " + std::to_string(status),
                            session->proxy.shown};
    }
    return reply.release();
}

std::string ServerSession_failureText(const ServerSession* session) {
    // The scheme is named only when it is TLS, the one worth telling apart.
    std::string server =
        session->https ? ServerSession_webAddress(session) : ByteString_str(session->host);
    return TransferFailure_text(session->failure, "server", server);
}

std::string ServerSession_webAddress(const ServerSession* session) {
    return (session->https ? "https://" : "http://") + ByteString_str(session->host);
}

std::string ServerSession_uploadFailureText(const ServerSession* session) {
    const ByteString* host = session->uploadHost != nullptr ? session->uploadHost : session->host;
    return TransferFailure_text(session->uploadFailure, "FTP server", ByteString_str(host));
}

int ServerSession_upload(ServerSession* session, const ByteString* data) {
    session->uploadFailure = {};
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
    if (handle == nullptr) {
        session->uploadFailure = {FailureKind::unreachable, "no transfer could be set up"};
        return 0;
    }
    const ByteString* host = session->uploadHost != nullptr ? session->uploadHost : session->host;
    ByteStringPtr url = address("ftp://", host, session->requestPath);
    std::string user(ByteString_view(session->uploadUser));
    std::string password(ByteString_view(session->uploadPassword));
    UploadFeed feed{data, 0, &session->uploadProgress};

    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, reinterpret_cast<const char*>(url->data));
    curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discardReply);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, feedUpload);
    curl_easy_setopt(h, CURLOPT_READDATA, &feed);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
    if (session->ftpTls) {
        // AUTH TLS before the account, TLS on the data as well; a server without it is
        // refused before the account is sent.
        curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        TransferSecurity_apply(h, *session);
    }
    // Never as an HTTP request to a proxy, which would carry the account in its headers
    // whatever TLS was asked for: through a tunnel, or not at all.
    applyProxy(h, session->uploadProxy);
    FtpDialogue dialogue;
    FtpDialogue_watch(h, &dialogue);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, lowSpeedSeconds(session->timing));
    applyLimits(h, session->timing);
    const CURLcode result = curl_easy_perform(h);
    if (result == CURLE_OK) return 1;
    session->uploadFailure = TransferFailure_of(h, result, detail, session->uploadProxy, &dialogue);
    return 0;
}

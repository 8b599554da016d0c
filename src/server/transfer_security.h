// TLS on the session's transfers: certificates always checked, against the system's trust
// store or the one the user named, and the reasons a check failed in words a user can act on.
#pragma once

#include <curl/curl.h>

#include <string>

struct ServerSession;

// Peer and host name checks on, TLS 1.2 at least, and the named trust store instead of the
// system's (its file and its directory both) when one is named. There is no way to turn the
// checks off.
void TransferSecurity_apply(CURL* handle, const ServerSession& session);

// What a failed certificate check (OpenSSL's verification result) means, in words.
std::string TransferSecurity_certificateCause(long verifyResult, const char* detail);

// A handshake that the peer or the network broke off (a reset, an end of file): no answer
// about security, so no security failure.
bool TransferSecurity_handshakeCut(CURLcode result, const char* detail);

// "cause (detail)", or the cause alone when libcurl said nothing more.
std::string TransferSecurity_withDetail(const std::string& cause, const char* detail);

// Why a transfer over TLS failed, as "its certificate has expired" and the like; empty when
// `result` is no TLS matter. `detail` is libcurl's error buffer.
std::string TransferSecurity_failureCause(CURL* handle, CURLcode result, const char* detail);

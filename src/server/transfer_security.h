// TLS on the session's transfers: certificates always checked, against the system's trust
// store or the one the user named, and the reasons a check failed in words a user can act on.
#pragma once

#include <curl/curl.h>

#include <string>

struct ServerSession;

// Peer and host name checks on, the trust store when one is named. There is no way to turn
// the checks off.
void TransferSecurity_apply(CURL* handle, const ServerSession& session);

// Why a transfer over TLS failed, as "its certificate has expired" and the like; empty when
// `result` is no TLS matter. `detail` is libcurl's error buffer.
std::string TransferSecurity_failureCause(CURL* handle, CURLcode result, const char* detail);

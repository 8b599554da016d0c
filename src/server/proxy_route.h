// The proxy a transfer goes through, chosen as the curl tool chooses it from the variables
// users set: SCHEME_proxy (also in upper case, but for http_proxy: CGI servers set
// HTTP_PROXY from a request header), then all_proxy, unless no_proxy names the host.
// Chosen here rather than left to libcurl, so that a malformed setting is told at start
// and every failure can name the proxy it went through.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct ProxySetting {
    std::string variable;  // "https_proxy", "ALL_PROXY", ...
    std::string value;
};

// What the environment says; an unset or empty variable is none.
struct ProxyEnvironment {
    std::optional<ProxySetting> http, https, ftp, all;
    std::string noProxy;
};

struct ProxyRoute {
    std::string address;  // as libcurl takes it, an account included; empty: no proxy
    std::string shown;    // "http://host:port", without the account, for messages
    bool tunnel = false;  // CONNECT (or SOCKS) to the server: what crosses it is the server's
};

ProxyEnvironment ProxyEnvironment_current();

// The route for a transfer of `scheme` ("http", "https" or "ftp") to `host` (the name
// without its port; an IPv6 literal in brackets). An empty route when no proxy is set or
// no_proxy names the host; nothing, with the reason in `error`, when the setting is not a
// proxy address.
std::optional<ProxyRoute> ProxyRoute_choose(const ProxyEnvironment& environment,
                                            std::string_view scheme, std::string_view host,
                                            std::string* error);

// Whether no_proxy's list names `host`: "*", the host itself, a domain it lies in (with or
// without the leading dot), or an IPv4 network "a.b.c.d/n".
bool ProxyRoute_bypassed(std::string_view noProxy, std::string_view host);

#include "server/proxy_route.h"

#include <array>
#include <cstdint>
#include <cstdlib>

#include "server/host_address.h"

namespace {

std::optional<ProxySetting> setting(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == 0) return std::nullopt;
    return ProxySetting{name, value};
}

std::optional<ProxySetting> either(const char* lower, const char* upper) {
    auto value = setting(lower);
    return value ? value : setting(upper);
}

char lowered(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerText(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lowered(c);
    return out;
}

// "[scheme://][user[:password]@]host[:port][/]", the scheme one libcurl tunnels through.
std::optional<ProxyRoute> parseProxy(std::string_view text, std::string* why) {
    std::string scheme = "http";
    const size_t separator = text.find("://");
    if (separator != std::string_view::npos) {
        scheme = lowerText(text.substr(0, separator));
        constexpr std::array<std::string_view, 6> known = {"http",    "https",  "socks4",
                                                           "socks4a", "socks5", "socks5h"};
        bool found = false;
        for (std::string_view k : known) found = found || scheme == k;
        if (!found) {
            *why = "only http://, https:// and socks proxies are supported";
            return std::nullopt;
        }
        text.remove_prefix(separator + 3);
    }
    if (!text.empty() && text.back() == '/') text.remove_suffix(1);
    if (text.find_first_of("/?#") != std::string_view::npos) {
        *why = "a proxy address takes no path";
        return std::nullopt;
    }
    std::string_view account;
    const size_t at = text.rfind('@');
    if (at != std::string_view::npos) {
        account = text.substr(0, at + 1);
        text.remove_prefix(at + 1);
    }
    auto parts = HostAddress_split(text);
    if (!parts) {
        *why = "expected [SCHEME://][USER:PASSWORD@]HOST[:PORT]";
        return std::nullopt;
    }
    // libcurl's own default ports, written out so that the message shows the one used.
    const std::string port = !parts->port.empty() ? parts->port
                             : scheme == "https"  ? "443"
                                                  : "1080";
    const std::string where = scheme + "://" + parts->name + ":" + port;
    return ProxyRoute{scheme + "://" + std::string(account) + parts->name + ":" + port, where};
}

std::optional<uint32_t> ipv4(std::string_view text) {
    uint32_t value = 0;
    int parts = 0;
    while (parts < 4) {
        size_t end = 0;
        uint32_t part = 0;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9' && end < 3) {
            part = part * 10 + static_cast<uint32_t>(text[end] - '0');
            ++end;
        }
        if (end == 0 || part > 255) return std::nullopt;
        value = (value << 8) | part;
        ++parts;
        text.remove_prefix(end);
        if (parts < 4) {
            if (text.empty() || text.front() != '.') return std::nullopt;
            text.remove_prefix(1);
        }
    }
    if (!text.empty()) return std::nullopt;
    return value;
}

bool inNetwork(std::string_view entry, std::string_view host) {
    const size_t slash = entry.find('/');
    auto network = ipv4(entry.substr(0, slash));
    auto address = ipv4(host);
    const std::string_view bits = entry.substr(slash + 1);
    if (!network || !address || bits.empty() || bits.size() > 2) return false;
    int length = 0;
    for (char c : bits) {
        if (c < '0' || c > '9') return false;
        length = length * 10 + (c - '0');
    }
    if (length > 32) return false;
    const uint32_t mask = length == 0 ? 0 : ~uint32_t{0} << (32 - length);
    return (*network & mask) == (*address & mask);
}

std::string_view unbracketed(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

}  // namespace

ProxyEnvironment ProxyEnvironment_current() {
    ProxyEnvironment environment;
    environment.http = setting("http_proxy");
    environment.https = either("https_proxy", "HTTPS_PROXY");
    environment.ftp = either("ftp_proxy", "FTP_PROXY");
    environment.all = either("all_proxy", "ALL_PROXY");
    if (auto noProxy = either("no_proxy", "NO_PROXY")) environment.noProxy = noProxy->value;
    return environment;
}

std::optional<ProxyRoute> ProxyRoute_choose(const ProxyEnvironment& environment,
                                            std::string_view scheme, std::string_view host,
                                            std::string* error) {
    const std::optional<ProxySetting>& own = scheme == "https" ? environment.https
                                             : scheme == "ftp" ? environment.ftp
                                                               : environment.http;
    const std::optional<ProxySetting>& chosen = own ? own : environment.all;
    if (!chosen) return ProxyRoute{};
    std::string why;
    auto route = parseProxy(chosen->value, &why);
    if (!route) {
        if (error != nullptr) {
            *error = "not a proxy address (" + why + "): " + chosen->variable + "=" + chosen->value;
        }
        return std::nullopt;
    }
    if (ProxyRoute_bypassed(environment.noProxy, host)) return ProxyRoute{};
    // Only plain HTTP may be handed to the proxy to send on: TLS and FTP keep their own
    // conversation with the server, the account included.
    route->tunnel = scheme != "http";
    return route;
}

bool ProxyRoute_bypassed(std::string_view noProxy, std::string_view host) {
    const std::string name = lowerText(unbracketed(host));
    while (!noProxy.empty()) {
        const size_t end = noProxy.find_first_of(", \t");
        std::string_view entry = noProxy.substr(0, end);
        noProxy.remove_prefix(end == std::string_view::npos ? noProxy.size() : end + 1);
        if (entry.empty()) continue;
        if (entry == "*") return true;
        if (entry.front() == '.') entry.remove_prefix(1);
        const std::string wanted = lowerText(unbracketed(entry));
        if (wanted.empty()) continue;
        if (wanted.find('/') != std::string::npos) {
            if (inNetwork(wanted, name)) return true;
            continue;
        }
        if (name == wanted) return true;
        if (name.size() > wanted.size() && name.ends_with(wanted) &&
            name[name.size() - wanted.size() - 1] == '.') {
            return true;
        }
    }
    return false;
}

#include "server/server_config.h"

#include <unistd.h>

#include <cstdlib>

#include "server/server_session.h"

namespace {

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == 0) return std::nullopt;
    return std::string(value);
}

bool validPort(std::string_view port) {
    if (port.empty() || port.size() > 5) return false;
    long value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

bool validHostName(std::string_view name) {
    if (name.empty()) return false;
    if (name.front() == '[') {  // IPv6 literal
        if (name.size() < 3 || name.back() != ']') return false;
        for (char c : name.substr(1, name.size() - 2)) {
            bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!hex && c != ':' && c != '.') return false;
        }
        return true;
    }
    for (char c : name) {
        bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                  c == '.' || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

struct HostParts {
    std::string name;
    std::string port;  // empty: the protocol's own
};

// "name", "name:port", "[v6]:port", each with or without the trailing "/".
std::optional<HostParts> splitHost(std::string_view text) {
    if (!text.empty() && text.back() == '/') text.remove_suffix(1);
    HostParts parts;
    size_t colon = std::string_view::npos;
    if (!text.empty() && text.front() == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') return std::nullopt;
            colon = close + 1;
        }
    } else {
        colon = text.find(':');
        if (colon != std::string_view::npos &&
            text.find(':', colon + 1) != std::string_view::npos) {
            return std::nullopt;
        }
    }
    parts.name = std::string(text.substr(0, colon));
    if (colon != std::string_view::npos) {
        parts.port = std::string(text.substr(colon + 1));
        if (!validPort(parts.port)) return std::nullopt;
    }
    if (!validHostName(parts.name)) return std::nullopt;
    return parts;
}

struct ServerAddress {
    bool https;
    std::string_view hostPart;  // "name[:port]", "/" allowed after
};

bool asciiEqualsLower(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

// The scheme, when the address names one, and the rest. Accounts ("user@"), paths,
// queries and other schemes are refused rather than passed to libcurl: an address that
// means something else than a server must not be half-obeyed.
std::optional<ServerAddress> splitScheme(std::string_view text, std::string* why) {
    ServerAddress address{std::string_view(ZARVIK_SERVER_SCHEME) == "https", text};
    const size_t separator = text.find("://");
    if (separator != std::string_view::npos) {
        std::string_view scheme = text.substr(0, separator);
        if (asciiEqualsLower(scheme, "https")) {
            address.https = true;
        } else if (asciiEqualsLower(scheme, "http")) {
            address.https = false;
        } else {
            *why = "only http:// and https:// servers are supported";
            return std::nullopt;
        }
        address.hostPart = text.substr(separator + 3);
    }
    std::string_view host = address.hostPart;
    if (!host.empty() && host.back() == '/') host.remove_suffix(1);
    if (host.find('@') != std::string_view::npos) {
        *why = "an account in the server address is not supported";
        return std::nullopt;
    }
    if (host.find_first_of("/?#") != std::string_view::npos) {
        *why = "the server address takes no path";
        return std::nullopt;
    }
    return address;
}

bool readable(const std::string& path) {
    return ::access(path.c_str(), R_OK) == 0;
}

}  // namespace

ServerEnvironment ServerEnvironment_current() {
    // curl's own variable first, as the curl tool reads them.
    auto caFile = environmentValue("CURL_CA_BUNDLE");
    if (!caFile) caFile = environmentValue("SSL_CERT_FILE");
    return {environmentValue("ZARVIK_SERVER"), environmentValue("ZARVIK_FTP_PORT"),
            environmentValue("ZARVIK_FTP_USER"), environmentValue("ZARVIK_FTP_PASSWORD"), caFile};
}

std::optional<ServerConfig> ServerConfig_resolve(std::string_view serverOption,
                                                 const ServerEnvironment& environment,
                                                 std::string* error,
                                                 const TransportOptions& transport) {
    std::string hostText = ZARVIK_SERVER_HOST;
    if (!serverOption.empty()) {
        hostText = std::string(serverOption);
    } else if (environment.server) {
        hostText = *environment.server;
    }
    std::string why = "expected [https://]HOST[:PORT]";
    auto address = splitScheme(hostText, &why);
    auto parts = address ? splitHost(address->hostPart) : std::nullopt;
    if (!parts) {
        if (error != nullptr) *error = "not a server address (" + why + "): " + hostText;
        return std::nullopt;
    }
    ServerConfig config;
    config.https = address->https;
    config.ftpTls = config.https || transport.ftpTls;
    config.caFile = !transport.caFile.empty() ? transport.caFile : environment.caFile.value_or("");
    if ((config.https || config.ftpTls) && !config.caFile.empty() && !readable(config.caFile)) {
        if (error != nullptr) *error = "cannot read the certificate file " + config.caFile;
        return std::nullopt;
    }
    config.host = parts->name + (parts->port.empty() ? "" : ":" + parts->port) + "/";
    std::string ftpPort = environment.ftpPort.value_or("");
    if (!ftpPort.empty() && !validPort(ftpPort)) {
        if (error != nullptr) *error = "not an FTP port: " + ftpPort;
        return std::nullopt;
    }
    config.uploadHost = parts->name + (ftpPort.empty() ? "" : ":" + ftpPort) + "/";
    config.uploadUser = environment.ftpUser.value_or(ZARVIK_FTP_USER);
    config.uploadPassword = environment.ftpPassword.value_or(ZARVIK_FTP_PASSWORD);
    return config;
}

void ServerSession_configure(ServerSession* session, const ServerConfig& config) {
    ServerSession_setHost(session, config.host.c_str());
    ServerSession_setUploadHost(session, config.uploadHost.c_str());
    ServerSession_setPath(session, kUpdaterScript);
    ServerSession_setUploadUser(session, config.uploadUser.c_str());
    ServerSession_setUploadPassword(session, config.uploadPassword.c_str());
    session->https = config.https;
    session->ftpTls = config.ftpTls;
    session->caFile = config.caFile;
}

#include "server/server_config.h"

#include <unistd.h>

#include <cstdlib>

#include "server/host_address.h"
#include "server/server_session.h"
#include "server/trust_store.h"
#include "server/upload_turn.h"

namespace {

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == 0) return std::nullopt;
    return std::string(value);
}

struct ServerAddress {
    bool https;
    std::string_view hostPart;  // "name[:port]", "/" allowed after
    bool named;                 // the scheme was written, not the build's
};

// The scheme, when the address names one, and the rest. Accounts ("user@"), paths,
// queries and other schemes are refused rather than passed to libcurl: an address that
// means something else than a server must not be half-obeyed.
std::optional<ServerAddress> splitScheme(std::string_view text, std::string_view defaultScheme,
                                         std::string* why) {
    ServerAddress address{defaultScheme == "https", text, false};
    const size_t separator = text.find("://");
    if (separator != std::string_view::npos) {
        std::string_view scheme = text.substr(0, separator);
        if (HostAddress_equalsLower(scheme, "https")) {
            address.https = true;
        } else if (HostAddress_equalsLower(scheme, "http")) {
            address.https = false;
        } else {
            *why = "only http:// and https:// servers are supported";
            return std::nullopt;
        }
        address.hostPart = text.substr(separator + 3);
        address.named = true;
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

bool fail(std::string* error, std::string text) {
    if (error != nullptr) *error = std::move(text);
    return false;
}

// The trust store, and what the user is told about TLS that is asked for and not used.
bool settleTls(ServerConfig& config, const ServerAddress& address, std::string_view defaultScheme,
               const ServerEnvironment& environment, const TransportOptions& transport,
               std::string* error) {
    const std::string server = (config.https ? "https://" : "http://") + config.host;
    if (!transport.caFile.empty() && !config.https && !config.ftpTls) {
        return fail(error, "--ca-file is for TLS, and nothing goes over TLS to " + server +
                               ": give an https:// server address, or --ftp-tls for the upload");
    }
    config.caFile = !transport.caFile.empty() ? transport.caFile : environment.caFile.value_or("");
    if ((config.https || config.ftpTls) && !config.caFile.empty()) {
        const std::string problem = TrustStore_problem(config.caFile);
        if (!problem.empty()) {
            const std::string from =
                !transport.caFile.empty() ? "--ca-file" : environment.caFileVariable;
            return fail(error, "the certificate file " + config.caFile + " (" + from +
                                   ") cannot be used: " + problem);
        }
    }
    if (!config.https && transport.ftpTls) {
        config.warnings.push_back("requests to " + server +
                                  " go in clear; --ftp-tls protects the upload only");
    } else if (!config.https && address.named && defaultScheme == "https") {
        config.warnings.push_back("the server address " + server +
                                  " turns TLS off: requests and the upload go in clear");
    }
    return true;
}

}  // namespace

ServerEnvironment ServerEnvironment_current() {
    // curl's own variable first, as the curl tool reads them.
    auto caFile = environmentValue("CURL_CA_BUNDLE");
    if (!caFile) caFile = environmentValue("SSL_CERT_FILE");
    ServerEnvironment environment{
        environmentValue("ZARVIK_SERVER"), environmentValue("ZARVIK_FTP_PORT"),
        environmentValue("ZARVIK_FTP_USER"), environmentValue("ZARVIK_FTP_PASSWORD"), caFile};
    if (caFile) {
        environment.caFileVariable =
            environmentValue("CURL_CA_BUNDLE") ? "CURL_CA_BUNDLE" : "SSL_CERT_FILE";
    }
    environment.proxy = ProxyEnvironment_current();
    environment.uploadTurns = UploadTurn_directory(std::getenv("XDG_RUNTIME_DIR"), ::getuid());
    return environment;
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
    const std::string defaultScheme =
        environment.defaultScheme.empty() ? ZARVIK_SERVER_SCHEME : environment.defaultScheme;
    auto address = splitScheme(hostText, defaultScheme, &why);
    auto parts = address ? HostAddress_split(address->hostPart) : std::nullopt;
    if (!parts) {
        if (error != nullptr) *error = "not a server address (" + why + "): " + hostText;
        return std::nullopt;
    }
    ServerConfig config;
    config.https = address->https;
    config.ftpTls = config.https || transport.ftpTls;
    config.host = parts->name + (parts->port.empty() ? "" : ":" + parts->port) + "/";
    if (!settleTls(config, *address, defaultScheme, environment, transport, error)) {
        return std::nullopt;
    }
    std::string ftpPort = environment.ftpPort.value_or("");
    if (!ftpPort.empty() && !HostAddress_validPort(ftpPort)) {
        if (error != nullptr) *error = "not an FTP port: " + ftpPort;
        return std::nullopt;
    }
    config.uploadHost = parts->name + (ftpPort.empty() ? "" : ":" + ftpPort) + "/";
    config.uploadUser = environment.ftpUser.value_or(ZARVIK_FTP_USER);
    config.uploadPassword = environment.ftpPassword.value_or(ZARVIK_FTP_PASSWORD);
    auto proxy =
        ProxyRoute_choose(environment.proxy, config.https ? "https" : "http", parts->name, error);
    auto uploadProxy = ProxyRoute_choose(environment.proxy, "ftp", parts->name, error);
    if (!proxy || !uploadProxy) return std::nullopt;
    config.proxy = *proxy;
    config.uploadProxy = *uploadProxy;
    config.uploadTurns = environment.uploadTurns;
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
    session->proxy = config.proxy;
    session->uploadProxy = config.uploadProxy;
    session->uploadTurns = config.uploadTurns;
}

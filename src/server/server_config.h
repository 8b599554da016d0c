// Where the server is, whether it is reached over TLS, and which upload account to use. The
// build names the maker's server and its scheme; `--server [https://]HOST[:PORT]` and the
// environment point a run elsewhere (the bench).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/proxy_route.h"

struct ServerSession;

struct ServerConfig {
    std::string host;        // "name[:port]/"
    std::string uploadHost;  // "name[:ftp port]/": the same name, FTP's own port
    std::string uploadUser;
    std::string uploadPassword;
    bool https = false;       // every POST, download and browser address over TLS
    bool ftpTls = false;      // the upload by explicit TLS (AUTH TLS), or not at all
    std::string caFile;       // trust store for the certificate checks; empty: the system's
    ProxyRoute proxy;         // for the POSTs; empty: direct
    ProxyRoute uploadProxy;   // for the upload
    std::string uploadTurns;  // the folder where uploads of one file name take turns
    // What the user should know about a choice that stands (TLS turned off, a part left in
    // clear), one line each, for standard error.
    std::vector<std::string> warnings;
};

// What the command line adds beside the server address.
struct TransportOptions {
    std::string caFile;   // --ca-file
    bool ftpTls = false;  // --ftp-tls
};

// What the environment says; an unset variable is empty.
struct ServerEnvironment {
    std::optional<std::string> server;       // ZARVIK_SERVER
    std::optional<std::string> ftpPort;      // ZARVIK_FTP_PORT
    std::optional<std::string> ftpUser;      // ZARVIK_FTP_USER
    std::optional<std::string> ftpPassword;  // ZARVIK_FTP_PASSWORD
    std::optional<std::string> caFile;       // CURL_CA_BUNDLE, else SSL_CERT_FILE
    std::string caFileVariable;              // which of the two
    ProxyEnvironment proxy;
    std::string defaultScheme;  // for an address without one; empty: the build's
    std::string uploadTurns;    // from XDG_RUNTIME_DIR and the user
};

ServerEnvironment ServerEnvironment_current();

// The option (when not empty) wins over the environment, which wins over the build. The
// address is "HOST[:PORT]" (the build's scheme) or "http://" / "https://" before it, with
// at most a "/" after. Anything else (another scheme, an account, a path, an empty host, a
// port out of range) gives nothing and says why in `error`; so do a trust store that
// cannot be used when TLS is, --ca-file where nothing goes over TLS, and a proxy setting
// that is no proxy address.
std::optional<ServerConfig> ServerConfig_resolve(std::string_view serverOption,
                                                 const ServerEnvironment& environment,
                                                 std::string* error,
                                                 const TransportOptions& transport = {});

// Stores the host, the default request path and the upload account in the session.
void ServerSession_configure(ServerSession* session, const ServerConfig& config);

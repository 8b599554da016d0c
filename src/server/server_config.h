// Where the server is and which upload account to use. The build names the maker's
// server; `--server HOST[:PORT]` and the environment point a run elsewhere (the bench).
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct ServerSession;

struct ServerConfig {
    std::string host;        // "name[:port]/"
    std::string uploadHost;  // "name[:ftp port]/": the same name, FTP's own port
    std::string uploadUser;
    std::string uploadPassword;
};

// What the environment says; an unset variable is empty.
struct ServerEnvironment {
    std::optional<std::string> server;       // ZARVIK_SERVER
    std::optional<std::string> ftpPort;      // ZARVIK_FTP_PORT
    std::optional<std::string> ftpUser;      // ZARVIK_FTP_USER
    std::optional<std::string> ftpPassword;  // ZARVIK_FTP_PASSWORD
};

ServerEnvironment ServerEnvironment_current();

// The option (when not empty) wins over the environment, which wins over the build.
// A malformed host or port gives nothing and says why in `error`.
std::optional<ServerConfig> ServerConfig_resolve(std::string_view serverOption,
                                                 const ServerEnvironment& environment,
                                                 std::string* error);

// Stores the host, the default request path and the upload account in the session.
void ServerSession_configure(ServerSession* session, const ServerConfig& config);

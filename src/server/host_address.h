// Host names and ports as the command line and the environment give them: checked here, so
// that nothing libcurl would read as something else (an account, a path, a second port)
// reaches it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct HostParts {
    std::string name;
    std::string port;  // empty: the protocol's own
};

// 1 to 65535, digits only.
bool HostAddress_validPort(std::string_view port);
// "name", "name:port", "[v6]:port", each with or without a trailing "/".
std::optional<HostParts> HostAddress_split(std::string_view text);
// ASCII case-insensitive comparison with a lower-case text.
bool HostAddress_equalsLower(std::string_view text, std::string_view lower);

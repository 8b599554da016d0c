#include "server/host_address.h"

namespace {

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

}  // namespace

bool HostAddress_validPort(std::string_view port) {
    if (port.empty() || port.size() > 5) return false;
    long value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

std::optional<HostParts> HostAddress_split(std::string_view text) {
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
        if (!HostAddress_validPort(parts.port)) return std::nullopt;
    }
    if (!validHostName(parts.name)) return std::nullopt;
    return parts;
}

bool HostAddress_equalsLower(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

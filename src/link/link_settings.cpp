#include "link/link_settings.h"

#include <cstdlib>

std::string LinkSettings_explicitPort(const std::string& option) {
    if (!option.empty()) return option;
    const char* fromEnvironment = std::getenv("ZARVIK_PORT");
    return fromEnvironment != nullptr ? std::string(fromEnvironment) : std::string();
}

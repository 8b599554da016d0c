#include "link/link_settings.h"

#include <cstdlib>

namespace {

std::string optionOrEnvironment(const std::string& option, const char* variable) {
    if (!option.empty()) return option;
    const char* fromEnvironment = std::getenv(variable);
    return fromEnvironment != nullptr ? std::string(fromEnvironment) : std::string();
}

}  // namespace

std::string LinkSettings_explicitPort(const std::string& option) {
    return optionOrEnvironment(option, "ZARVIK_PORT");
}

std::string LinkSettings_namedTool(const std::string& option) {
    return optionOrEnvironment(option, "ZARVIK_TOOL");
}

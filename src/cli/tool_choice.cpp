#include "cli/tool_choice.h"

#include <cstdlib>

#include "link/attached_tools.h"

namespace {

// The option that picks the tool on the command line.
std::string optionFor(const std::vector<SerialPortInfo>& tools, const SerialPortInfo& tool) {
    return AttachedTools_namedBySerial(tools, tool) ? "--tool " + tool.usbSerial
                                                    : "--port " + tool.devicePath;
}

int readChoice(FILE* terminal, int count) {
    char line[32] = {};
    if (std::fgets(line, sizeof line, terminal) == nullptr) return -1;
    char* end = nullptr;
    const long choice = std::strtol(line, &end, 10);
    if (end == line || choice < 1 || choice > count) return -1;
    return static_cast<int>(choice) - 1;
}

}  // namespace

std::string ToolChoice_list(const std::vector<SerialPortInfo>& tools) {
    std::string text;
    int number = 0;
    for (const SerialPortInfo& tool : tools) {
        text += "  " + std::to_string(++number) + ". " + AttachedTools_label(tool) + " (" +
                optionFor(tools, tool) + ")\n";
    }
    return text;
}

ToolChoiceResult ToolChoice_settle(LinkSettings& link, ToolUse use, FILE* terminal, bool yes,
                                   std::string* message) {
    if (use == ToolUse::none || !AttachedTools_noneNamed(link)) return ToolChoiceResult::go;
    const std::vector<SerialPortInfo> tools = AttachedTools_list(link);
    if (tools.size() < 2) return ToolChoiceResult::go;
    const std::string count = std::to_string(tools.size());
    const std::string list = ToolChoice_list(tools);
    if (use == ToolUse::read) {
        *message = count + " KTX2 tools are attached; the first is used:\n" + list;
        return ToolChoiceResult::go;
    }
    if (terminal == nullptr || yes) {
        *message = count +
                   " KTX2 tools are attached; name the one to use with --tool SERIAL or "
                   "--port DEVICE:\n" +
                   list;
        return ToolChoiceResult::usageError;
    }
    std::fprintf(terminal, "%s KTX2 tools are attached:\n%sTool to use [1-%s]: ", count.c_str(),
                 list.c_str(), count.c_str());
    std::fflush(terminal);
    const int choice = readChoice(terminal, static_cast<int>(tools.size()));
    if (choice < 0) {
        *message = "No tool was chosen.\n";
        return ToolChoiceResult::noChoice;
    }
    AttachedTools_name(link, tools, tools[static_cast<size_t>(choice)]);
    return ToolChoiceResult::go;
}

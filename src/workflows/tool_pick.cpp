// Find Device among several tools: the user picks one, and every message after says which.
#include "link/attached_tools.h"
#include "workflows/app_delegate.h"

bool AppDelegate::pickTool(LinkSettings& settings) {
    aboutTool_.clear();
    if (!AttachedTools_noneNamed(settings)) return true;
    const std::vector<SerialPortInfo> tools = AttachedTools_list(settings);
    if (tools.size() < 2) return true;
    std::vector<std::string> labels;
    for (const SerialPortInfo& tool : tools) labels.push_back(AttachedTools_label(tool));
    const int pick = ui_.chooseTool(labels);
    if (pick == kToolNotAsked) return true;
    if (pick < 0 || pick >= static_cast<int>(tools.size())) return false;
    AttachedTools_name(settings, tools, tools[static_cast<size_t>(pick)]);
    // The USB serial outlives the node, which changes with each reboot.
    aboutTool_ = settings.tool.empty() ? settings.port : settings.tool;
    return true;
}

std::string AppDelegate::aboutTool(const std::string& text) const {
    return aboutTool_.empty() || text.empty() ? text : aboutTool_ + ": " + text;
}

#include "link/attached_tools.h"

#include <algorithm>

std::vector<SerialPortInfo> AttachedTools_list(const LinkSettings& settings) {
    std::vector<SerialPortInfo> tools = PortDiscovery_list(settings.sysfsRoot, settings.devRoot);
    std::erase_if(tools, [](const SerialPortInfo& p) { return !SerialPortInfo_isTool(p); });
    return tools;
}

bool AttachedTools_noneNamed(const LinkSettings& settings) {
    return settings.port.empty() && settings.tool.empty();
}

bool AttachedTools_namedBySerial(const std::vector<SerialPortInfo>& tools,
                                 const SerialPortInfo& tool) {
    return !tool.usbSerial.empty() &&
           std::ranges::count(tools, tool.usbSerial, &SerialPortInfo::usbSerial) == 1;
}

void AttachedTools_name(LinkSettings& settings, const std::vector<SerialPortInfo>& tools,
                        const SerialPortInfo& tool) {
    // Followed from then on by its USB identity, whichever name found it first.
    if (AttachedTools_namedBySerial(tools, tool)) {
        settings.tool = tool.usbSerial;
    } else {
        settings.port = tool.devicePath;
    }
}

std::string AttachedTools_label(const SerialPortInfo& tool) {
    return (tool.usbSerial.empty() ? "no USB serial" : "USB serial " + tool.usbSerial) + ", " +
           tool.devicePath;
}

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "link/access_guidance.h"
#include "link/port_holder.h"
#include "link/tool_link.h"

namespace {

constexpr const char* kInstallRule =
    "sudo cp 70-zarvik-ktx2.rules /etc/udev/rules.d/ && sudo udevadm control --reload, then "
    "plug the tool in again";

std::string busyText(const std::string& path) {
    const std::optional<PortHolder> holder = PortHolder_find(path);
    const std::string text =
        "The port " + path + " is in use by " +
        (holder ? holder->name + " (pid " + std::to_string(holder->pid) + ")" : "another program") +
        ".";
    if (holder && holder->name == "ModemManager") {
        return text +
               " Install the updater's udev rule so that ModemManager leaves the tool alone (" +
               kInstallRule + ").";
    }
    return text + " Close that program and try again.";
}

}  // namespace

std::string ToolLink_openFailureText(const ToolLink* link) {
    std::string path = link->devicePath != nullptr ? link->devicePath : "";
    switch (link->lastError) {
        case 0:
            return "";
        case kLinkErrorSpeed:
            return "The tool's serial driver is missing: " + path +
                   " does not accept 256000 bit/s.";
        case kLinkErrorBlocking:
            return "The serial device " + path + " could not be set up (" +
                   std::strerror(link->openErrno) + ").";
        case kLinkErrorBusy:
            return busyText(path);
        default:
            break;
    }
    if (link->openErrno == EACCES || link->openErrno == EPERM) {
        return "Permission denied on " + path + ". " + AccessGuidance_access(kUdevRuleDirs);
    }
    if (link->openErrno == ENOENT || link->openErrno == ENODEV || link->openErrno == ENXIO) {
        return "The serial device " + path + " is not there: is the tool plugged in?";
    }
    std::string reason = link->openErrno != 0 ? std::strerror(link->openErrno) : "unknown error";
    return "The serial device " + path + " could not be opened (" + reason + ").";
}

std::string ToolLink_notFoundText(const ToolLink* link) {
    const std::vector<SerialPortInfo> ports =
        PortDiscovery_list(link->settings.sysfsRoot, link->settings.devRoot);
    return AccessGuidance_forPorts(ports, link->settings.tool, kUdevRuleDirs,
                                   PortDiscovery_unservedTools(link->settings.sysfsRoot, ports));
}

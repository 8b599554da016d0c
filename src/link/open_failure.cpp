#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "link/access_guidance.h"
#include "link/port_holder.h"
#include "link/tool_link.h"

namespace {

// ModemManager is kept away by the tool's udev rule alone.
constexpr const char* kKeepModemManagerAway =
    "To keep ModemManager away from the tool, its udev rule 70-zarvik-ktx2.rules must be in "
    "effect: the package installs it in /usr/lib/udev/rules.d (a file of the same name in "
    "/etc/udev/rules.d replaces it; elsewhere copy it there). Then run "
    "sudo udevadm control --reload, unplug the tool and plug it in again.";

std::string busyText(const std::string& path) {
    const std::optional<PortHolder> holder = PortHolder_find(path);
    if (holder && holder->name == "ModemManager") {
        return "The port " + path + " is in use by ModemManager (pid " +
               std::to_string(holder->pid) + "). " + kKeepModemManagerAway;
    }
    if (holder) {
        return "The port " + path + " is in use by " + holder->name + " (pid " +
               std::to_string(holder->pid) + "). Close that program and try again.";
    }
    // Another user's program that set the line exclusive cannot be seen; a modem prober
    // running as root is the usual one.
    if (const std::optional<PortHolder> prober = PortHolder_likelyProber(path)) {
        return "The port " + path + " is in use, most likely by " + prober->name + " (pid " +
               std::to_string(prober->pid) +
               "), which opens new serial devices to see whether they are modems and lets go "
               "of them within a minute: try again then. " +
               kKeepModemManagerAway;
    }
    return "The port " + path + " is in use by another program. Close that program and try again.";
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

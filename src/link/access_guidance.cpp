#include "link/access_guidance.h"

#include <filesystem>

#include "link/usb_identity.h"

namespace {

constexpr const char* kJoinDialout =
    "add your user to the dialout group (sudo usermod -aG dialout $USER, then log out and in "
    "again)";
constexpr const char* kCheckCable =
    "Check that the USB cable is plugged in at both ends (or try another cable or USB socket) "
    "and that the tool is powered, then try again.";

std::string installedRule(std::span<const std::string> ruleDirs) {
    for (const std::string& dir : ruleDirs) {
        std::error_code ec;
        const std::filesystem::path rule = std::filesystem::path(dir) / kToolRuleName;
        if (std::filesystem::exists(rule, ec)) return rule.string();
    }
    return "";
}

}  // namespace

std::string AccessGuidance_access(std::span<const std::string> ruleDirs) {
    const std::string rule = installedRule(ruleDirs);
    if (!rule.empty()) {
        // The rule gives access to the user at the desktop, and only to a device that
        // appeared after it was read.
        return std::string("The updater's udev rule (") + rule +
               ") is installed: unplug the tool and plug it in again. When you are not logged "
               "in at the computer's own screen, " +
               kJoinDialout + ".";
    }
    return std::string("Install the updater's udev rule (sudo cp ") + kToolRuleName +
           " /etc/udev/rules.d/ && sudo udevadm control --reload) or " + kJoinDialout +
           ", then unplug the tool and plug it in again.";
}

std::string AccessGuidance_forPorts(const std::vector<SerialPortInfo>& ports,
                                    const std::string& namedTool,
                                    std::span<const std::string> ruleDirs, int unservedTools) {
    const SerialPortInfo* tool = nullptr;
    if (!namedTool.empty()) {
        tool = UsbIdentity_findTool(ports, {namedTool, ""});
        if (tool == nullptr) {
            return "No KTX2 tool with USB serial " + namedTool +
                   " is attached (zarvik-cli ports lists those that are). " + kCheckCable;
        }
    } else {
        for (const SerialPortInfo& port : ports) {
            if (SerialPortInfo_isTool(port)) {
                tool = &port;
                break;
            }
        }
        if (tool == nullptr && unservedTools > 0) {
            return "The KTX2 tool is attached (USB device 04d8:f32b), but no serial driver took "
                   "it, so it has no serial device. Load the driver (sudo modprobe cdc_acm), "
                   "then unplug the tool and plug it in again; if it stays without one, the "
                   "kernel log (sudo dmesg) tells why.";
        }
        if (tool == nullptr) {
            return std::string("No KTX2 tool is attached: no USB device 04d8:f32b is listed. ") +
                   kCheckCable;
        }
    }
    if (!tool->nodeExists) {
        return "The KTX2 tool is attached but its serial device " + tool->devicePath +
               " is missing: unplug the tool and plug it in again. If it stays missing, the "
               "kernel log (sudo dmesg) tells whether the cdc_acm driver took it.";
    }
    if (!tool->accessible) {
        return "The KTX2 tool is attached as " + tool->devicePath + ", but you may not open it. " +
               AccessGuidance_access(ruleDirs);
    }
    return "";
}

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "link/access_guidance.h"
#include "link/link_settings.h"
#include "link/port_discovery.h"
#include "link/usb_identity.h"

namespace {

std::string usbId(const SerialPortInfo& port) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", port.vendorId & 0xFFFF, port.productId & 0xFFFF);
    return text;
}

std::string describe(const SerialPortInfo& port) {
    std::string text = SerialPortInfo_isTool(port) ? "KTX2 tool" : port.product;
    if (!port.nodeExists) text += text.empty() ? "(no device node)" : " (no device node)";
    return text;
}

// A path or serial typed by the user need not be UTF-8; JSON output must be.
void printLine(const nlohmann::json& line) {
    std::printf("%s\n",
                line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

}  // namespace

void addPortsCommand(CLI::App& app, const CliOptions& options, int& status) {
    auto* ports = app.add_subcommand("ports", "List the USB serial devices and mark the tool");
    // Where the kernel lists the devices; hidden, for tests that build a fake tree.
    auto roots = std::make_shared<LinkSettings>();
    ports->add_option("--sysfs-root", roots->sysfsRoot)->group("");
    ports->add_option("--dev-root", roots->devRoot)->group("");
    ports->callback([&options, &status, roots] {
        const std::vector<SerialPortInfo> found =
            PortDiscovery_list(roots->sysfsRoot, roots->devRoot);
        const std::string explicitPort = LinkSettings_explicitPort(options.port);
        const std::string namedTool = LinkSettings_namedTool(options.tool);
        const bool namedToolAttached = UsbIdentity_findTool(found, {namedTool, ""}) != nullptr;
        // A tool that is missing or closed to this user: what to do, beside the list.
        // An explicit port is the user's own choice and gets none.
        const std::string guidance =
            explicitPort.empty()
                ? AccessGuidance_forPorts(found, namedTool, kUdevRuleDirs,
                                          PortDiscovery_unservedTools(roots->sysfsRoot, found))
                : "";
        auto finish = [&status, &guidance] {
            std::fflush(stdout);
            if (!guidance.empty()) std::fprintf(stderr, "%s\n", guidance.c_str());
            status = 0;
        };

        if (options.json) {
            for (const SerialPortInfo& port : found) {
                nlohmann::json line = {{"event", "port"},
                                       {"path", port.devicePath},
                                       {"usbId", usbId(port)},
                                       {"product", port.product},
                                       {"usbSerial", port.usbSerial},
                                       {"usbPortPath", port.usbPortPath},
                                       {"nodeExists", port.nodeExists},
                                       {"tool", SerialPortInfo_isTool(port)}};
                printLine(line);
            }
            if (!explicitPort.empty()) {
                nlohmann::json line = {{"event", "explicitPort"}, {"path", explicitPort}};
                printLine(line);
            }
            if (!namedTool.empty()) {
                nlohmann::json line = {{"event", "namedTool"},
                                       {"usbSerial", namedTool},
                                       {"attached", namedToolAttached}};
                printLine(line);
            }
            finish();
            return;
        }

        if (found.empty()) {
            std::printf("No USB serial devices found.\n");
        } else {
            std::printf("%-24s %-10s %-16s %s\n", "DEVICE", "USB ID", "USB SERIAL", "DESCRIPTION");
            for (const SerialPortInfo& port : found) {
                std::printf("%-24s %-10s %-16s %s%s\n", port.devicePath.c_str(),
                            usbId(port).c_str(),
                            port.usbSerial.empty() ? "-" : port.usbSerial.c_str(),
                            SerialPortInfo_isTool(port) ? "* " : "", describe(port).c_str());
            }
        }
        const auto tools = std::ranges::count_if(found, SerialPortInfo_isTool);
        if (tools > 1 && explicitPort.empty() && namedTool.empty()) {
            std::printf(
                "%td KTX2 tools are attached: the commands that write to one need it named "
                "with --tool SERIAL or --port DEVICE.\n",
                tools);
        }
        if (!explicitPort.empty()) {
            std::printf("The updater uses %s (given by --port or ZARVIK_PORT).\n",
                        explicitPort.c_str());
        }
        if (!namedTool.empty()) {
            std::printf(
                "The updater uses the tool with USB serial %s (given by --tool or "
                "ZARVIK_TOOL)%s.\n",
                namedTool.c_str(), namedToolAttached ? "" : ", which is not attached");
        }
        finish();
    });
}

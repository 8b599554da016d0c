#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "link/link_settings.h"
#include "link/port_discovery.h"

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

        if (options.json) {
            for (const SerialPortInfo& port : found) {
                nlohmann::json line = {{"event", "port"},
                                       {"path", port.devicePath},
                                       {"usbId", usbId(port)},
                                       {"product", port.product},
                                       {"nodeExists", port.nodeExists},
                                       {"tool", SerialPortInfo_isTool(port)}};
                std::printf("%s\n", line.dump().c_str());
            }
            if (!explicitPort.empty()) {
                nlohmann::json line = {{"event", "explicitPort"}, {"path", explicitPort}};
                std::printf("%s\n", line.dump().c_str());
            }
            status = 0;
            return;
        }

        if (found.empty()) {
            std::printf("No USB serial devices found.\n");
        } else {
            std::printf("%-24s %-10s %s\n", "DEVICE", "USB ID", "DESCRIPTION");
            for (const SerialPortInfo& port : found) {
                std::printf("%-24s %-10s %s%s\n", port.devicePath.c_str(), usbId(port).c_str(),
                            SerialPortInfo_isTool(port) ? "* " : "", describe(port).c_str());
            }
        }
        if (!explicitPort.empty()) {
            std::printf("The updater uses %s (given by --port or ZARVIK_PORT).\n",
                        explicitPort.c_str());
        }
        status = 0;
    });
}

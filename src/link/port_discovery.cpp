#include "link/port_discovery.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "link/tool_link.h"

namespace fs = std::filesystem;

namespace {

std::optional<std::string> readLine(const fs::path& file) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

std::optional<uint32_t> readHexId(const fs::path& file) {
    std::optional<std::string> text = readLine(file);
    if (!text || text->empty() || text->size() > 8) return std::nullopt;
    char* end = nullptr;
    unsigned long value = std::strtoul(text->c_str(), &end, 16);
    if (end == nullptr || *end != '\0') return std::nullopt;
    return static_cast<uint32_t>(value);
}

bool isWithin(const fs::path& p, const fs::path& root) {
    auto [rootEnd, pEnd] = std::mismatch(root.begin(), root.end(), p.begin(), p.end());
    return rootEnd == root.end();
}

// Walks from the tty's device towards the root until a directory names USB ids.
bool findUsbIds(const fs::path& device, const fs::path& root, SerialPortInfo& port) {
    std::error_code ec;
    fs::path p = fs::canonical(device, ec);
    if (ec) return false;
    while (isWithin(p, root) && p != root) {
        std::optional<uint32_t> vendor = readHexId(p / "idVendor");
        std::optional<uint32_t> product = readHexId(p / "idProduct");
        if (vendor && product) {
            port.vendorId = *vendor;
            port.productId = *product;
            port.product = readLine(p / "product").value_or("");
            return true;
        }
        if (!p.has_parent_path() || p.parent_path() == p) break;
        p = p.parent_path();
    }
    return false;
}

}  // namespace

bool SerialPortInfo_isTool(const SerialPortInfo& port) {
    return port.vendorId == kToolVendorId && port.productId == kToolProductId;
}

std::vector<SerialPortInfo> PortDiscovery_list(const std::string& sysfsRoot,
                                               const std::string& devRoot) {
    std::vector<SerialPortInfo> ports;
    std::error_code ec;
    fs::path root = fs::canonical(sysfsRoot, ec);
    if (ec) return ports;
    fs::path classDir = root / "class" / "tty";

    std::vector<std::string> names;
    for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        SerialPortInfo port;
        port.name = name;
        if (!findUsbIds(classDir / name / "device", root, port)) continue;
        port.devicePath = (fs::path(devRoot) / name).string();
        port.nodeExists = fs::exists(port.devicePath, ec);
        ports.push_back(std::move(port));
    }
    return ports;
}

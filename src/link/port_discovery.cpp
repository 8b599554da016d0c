#include "link/port_discovery.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

#include "link/tool_link.h"

namespace fs = std::filesystem;

namespace {

// A sysfs attribute fits in a page; anything longer is not one.
constexpr std::streamsize kAttributeLimit = 4096;
// A USB string descriptor holds at most 126 characters, up to 3 bytes each in UTF-8.
constexpr size_t kUsbTextLimit = 126 * 3;

std::optional<std::string> readLine(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string line(static_cast<size_t>(kAttributeLimit), '\0');
    in.read(line.data(), kAttributeLimit);
    line.resize(static_cast<size_t>(in.gcount()));
    const size_t end = line.find('\n');
    if (end != std::string::npos) line.resize(end);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

// Device texts go to terminals and JSON: bytes outside printable ASCII are spelt \xNN.
std::string printable(std::string_view raw) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            text += c;
        } else {
            text += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
        }
    }
    return text;
}

std::string readUsbText(const fs::path& file) {
    std::optional<std::string> raw = readLine(file);
    if (!raw) return "";
    size_t start = raw->find_first_not_of(' ');
    if (start == std::string::npos || raw->size() - start > kUsbTextLimit) return "";
    return printable(std::string_view(*raw).substr(start));
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
    fs::path below;  // the directory under the USB device on the way up: its interface
    while (isWithin(p, root) && p != root) {
        std::optional<uint32_t> vendor = readHexId(p / "idVendor");
        std::optional<uint32_t> product = readHexId(p / "idProduct");
        if (vendor && product) {
            port.vendorId = *vendor;
            port.productId = *product;
            port.product = readUsbText(p / "product");
            port.usbSerial = readUsbText(p / "serial");
            port.usbPortPath = printable(p.filename().string());
            port.usbInterface = printable(below.filename().string());
            return true;
        }
        if (!p.has_parent_path() || p.parent_path() == p) break;
        below = p;
        p = p.parent_path();
    }
    return false;
}

}  // namespace

bool SerialPortInfo_isTool(const SerialPortInfo& port) {
    return port.vendorId == kToolVendorId && port.productId == kToolProductId &&
           !port.laterInterface;
}

namespace {

// "ttyACM10" after "ttyACM2": the name's digits compared as a number.
bool nameBefore(const std::string& a, const std::string& b) {
    const size_t aDigits = a.find_last_not_of("0123456789") + 1;
    const size_t bDigits = b.find_last_not_of("0123456789") + 1;
    const std::string_view aStem(a.data(), aDigits), bStem(b.data(), bDigits);
    if (aStem != bStem) return a < b;
    const size_t aLength = a.size() - aDigits, bLength = b.size() - bDigits;
    if (aLength != bLength) return aLength < bLength;
    return a < b;
}

// Of the ttys of one USB device, all but that of its lowest interface are later ones.
void markLaterInterfaces(std::vector<SerialPortInfo>& ports) {
    for (SerialPortInfo& port : ports) {
        if (port.usbPortPath.empty()) continue;
        for (const SerialPortInfo& other : ports) {
            if (&other != &port && other.usbPortPath == port.usbPortPath &&
                nameBefore(other.usbInterface, port.usbInterface)) {
                port.laterInterface = true;
                break;
            }
        }
    }
}

}  // namespace

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
    std::sort(names.begin(), names.end(), nameBefore);

    for (const std::string& name : names) {
        SerialPortInfo port;
        port.name = name;
        if (!findUsbIds(classDir / name / "device", root, port)) continue;
        port.devicePath = (fs::path(devRoot) / name).string();
        port.nodeExists = fs::exists(port.devicePath, ec);
        port.accessible = port.nodeExists && ::access(port.devicePath.c_str(), R_OK | W_OK) == 0;
        ports.push_back(std::move(port));
    }
    markLaterInterfaces(ports);
    return ports;
}

int PortDiscovery_unservedTools(const std::string& sysfsRoot,
                                const std::vector<SerialPortInfo>& ports) {
    int unserved = 0;
    std::error_code ec;
    const fs::path devices = fs::path(sysfsRoot) / "bus" / "usb" / "devices";
    for (fs::directory_iterator it(devices, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path device = it->path();
        if (readHexId(device / "idVendor") != kToolVendorId ||
            readHexId(device / "idProduct") != kToolProductId) {
            continue;
        }
        const std::string name = printable(device.filename().string());
        const bool served = std::ranges::any_of(
            ports, [&](const SerialPortInfo& port) { return port.usbPortPath == name; });
        if (!served) ++unserved;
    }
    return unserved;
}

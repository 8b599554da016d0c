#include "link/usb_identity.h"

#include <filesystem>

namespace fs = std::filesystem;

bool UsbIdentity_isEmpty(const UsbIdentity& identity) {
    return identity.usbSerial.empty() && identity.usbPortPath.empty();
}

UsbIdentity UsbIdentity_of(const SerialPortInfo& port) {
    return {port.usbSerial, port.usbPortPath};
}

bool UsbIdentity_matches(const UsbIdentity& identity, const SerialPortInfo& port) {
    // The socket only stands in for a missing serial: with a serial the tool is followed
    // into any socket.
    if (!identity.usbSerial.empty()) return identity.usbSerial == port.usbSerial;
    return !identity.usbPortPath.empty() && port.usbSerial.empty() &&
           identity.usbPortPath == port.usbPortPath;
}

const SerialPortInfo* UsbIdentity_findTool(const std::vector<SerialPortInfo>& ports,
                                           const UsbIdentity& identity) {
    for (const SerialPortInfo& port : ports) {
        if (SerialPortInfo_isTool(port) && UsbIdentity_matches(identity, port)) return &port;
    }
    return nullptr;
}

const SerialPortInfo* UsbIdentity_toolAtNode(const std::vector<SerialPortInfo>& ports,
                                             const std::string& node) {
    std::error_code ec;
    const fs::path wanted = fs::canonical(node, ec);
    if (ec) return nullptr;
    for (const SerialPortInfo& port : ports) {
        if (!SerialPortInfo_isTool(port) || !port.nodeExists) continue;
        if (fs::canonical(port.devicePath, ec) == wanted && !ec) return &port;
    }
    return nullptr;
}

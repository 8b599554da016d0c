// The serial devices that USB devices present, as the kernel lists them under sysfs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SerialPortInfo {
    std::string name;        // tty name, e.g. ttyACM0
    std::string devicePath;  // its device node: devRoot/name
    bool nodeExists = false;
    bool accessible = false;  // this process may read and write the node
    uint32_t vendorId = 0;
    uint32_t productId = 0;
    std::string product;  // the USB device's product text, when it gives one
    // The USB device's serial text, empty when it has none (or one no device could have);
    // and its sysfs directory name, e.g. "1-2.3", which stays while it sits on one socket.
    std::string usbSerial;
    std::string usbPortPath;
};

bool SerialPortInfo_isTool(const SerialPortInfo& port);

// Every tty under sysfsRoot/class/tty whose device has a USB device (one with idVendor and
// idProduct) among its ancestors, in sorted name order. Entries without one are left out.
// Texts read from the device are printable ASCII: other bytes appear as \xNN.
std::vector<SerialPortInfo> PortDiscovery_list(const std::string& sysfsRoot,
                                               const std::string& devRoot);

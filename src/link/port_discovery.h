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
    // The USB interface the tty belongs to, e.g. "1-2.3:1.0". A device with several serial
    // interfaces (a composite tool) is one tool, reached through its first.
    std::string usbInterface;
    bool laterInterface = false;
};

// A tool's vendor and product id, on the first serial interface of its USB device.
bool SerialPortInfo_isTool(const SerialPortInfo& port);

// Every tty under sysfsRoot/class/tty whose device has a USB device (one with idVendor and
// idProduct) among its ancestors, in name order with numbers compared as numbers (ttyACM2
// before ttyACM10). Entries without one are left out.
// Texts read from the device are printable ASCII: other bytes appear as \xNN.
std::vector<SerialPortInfo> PortDiscovery_list(const std::string& sysfsRoot,
                                               const std::string& devRoot);

// Tools on the bus (USB devices 04d8:f32b under sysfsRoot/bus/usb/devices) that no tty of
// `ports` belongs to: no serial driver took them.
int PortDiscovery_unservedTools(const std::string& sysfsRoot,
                                const std::vector<SerialPortInfo>& ports);

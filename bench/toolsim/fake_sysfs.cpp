#include "toolsim/fake_sysfs.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text << "\n";
}

std::string hex4(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

fs::path usbBus(const fs::path& sys) {
    return sys / "devices" / "pci0000:00" / "0000:00:14.0" / "usb1";
}

// The class entry comes last, so a reader never finds half an entry.
void addClassEntry(const fs::path& sys, const std::string& ttyName, const fs::path& ttyDir,
                   const fs::path& device) {
    fs::create_directories(ttyDir);
    if (!device.empty())
        fs::create_directory_symlink(fs::relative(device, ttyDir), ttyDir / "device");
    fs::path classDir = sys / "class" / "tty";
    fs::create_directories(classDir);
    fs::create_directory_symlink(fs::relative(ttyDir, classDir), classDir / ttyName);
}

void addNode(const fs::path& dev, const std::string& ttyName, bool withNode) {
    fs::create_directories(dev);
    if (withNode) std::ofstream(dev / ttyName).put('\0');
}

fs::path interfaceOf(const fs::path& sys, const std::string& usbPortPath) {
    return usbBus(sys) / usbPortPath / (usbPortPath + ":1.0");
}

}  // namespace

FakeSysfs::FakeSysfs(const std::string& root) : root_(root) {
    fs::create_directories(fs::path(root_) / "sys" / "class" / "tty");
    fs::create_directories(fs::path(root_) / "dev");
}

std::string FakeSysfs::addUsbDevice(const FakeUsbDevice& device) {
    const fs::path bus = usbBus(sysfsRoot());
    std::error_code ec;
    fs::create_directories(bus, ec);
    for (int n = 1; n < 1000; ++n) {
        const std::string port = "1-" + std::to_string(n);
        if (!fs::create_directory(bus / port, ec)) continue;
        writeText(bus / port / "idVendor", hex4(device.vendorId));
        writeText(bus / port / "idProduct", hex4(device.productId));
        if (!device.product.empty()) writeText(bus / port / "product", device.product);
        if (device.serial) writeText(bus / port / "serial", *device.serial);
        fs::create_directories(interfaceOf(sysfsRoot(), port));
        const fs::path busLinks = fs::path(sysfsRoot()) / "bus" / "usb" / "devices";
        fs::create_directories(busLinks, ec);
        fs::create_directory_symlink(bus / port, busLinks / port, ec);
        return port;
    }
    return "";
}

void FakeSysfs::setSerial(const std::string& usbPortPath, const std::string& serial) {
    writeText(usbBus(sysfsRoot()) / usbPortPath / "serial", serial);
}

std::string FakeSysfs::addUsbSerial(const std::string& ttyName, const FakeUsbDevice& device,
                                    bool withNode) {
    const std::string port = addUsbDevice(device);
    const fs::path interface = interfaceOf(sysfsRoot(), port);
    addNode(devRoot(), ttyName, withNode);
    addClassEntry(sysfsRoot(), ttyName, interface / "tty" / ttyName, interface);
    return port;
}

void FakeSysfs::addUsbSerial(const std::string& ttyName, uint32_t vendorId, uint32_t productId,
                             bool withNode, const std::string& product) {
    addUsbSerial(ttyName, FakeUsbDevice{vendorId, productId, product, std::nullopt}, withNode);
}

std::string FakeSysfs::attachTty(const std::string& usbPortPath, const std::string& nodeTarget,
                                 const std::string& avoid) {
    const fs::path interface = interfaceOf(sysfsRoot(), usbPortPath);
    for (int n = 0; n < 1000; ++n) {
        const std::string name = "ttyACM" + std::to_string(n);
        // Making the node claims the name: symlink fails on one that is taken.
        if (name == avoid) continue;
        const fs::path node = fs::path(devRoot()) / name;
        if (::symlink(nodeTarget.c_str(), node.c_str()) != 0) continue;
        // Leftovers of an entry that did not go cleanly are replaced.
        std::error_code ec;
        fs::remove_all(interface / "tty" / name, ec);
        fs::remove(fs::path(sysfsRoot()) / "class" / "tty" / name, ec);
        try {
            addClassEntry(sysfsRoot(), name, interface / "tty" / name, interface);
        } catch (const fs::filesystem_error&) {
            fs::remove(node, ec);
            return "";
        }
        return name;
    }
    return "";
}

void FakeSysfs::detachTty(const std::string& usbPortPath, const std::string& ttyName) {
    if (ttyName.empty()) return;
    std::error_code ec;
    fs::remove(fs::path(sysfsRoot()) / "class" / "tty" / ttyName, ec);
    fs::remove_all(interfaceOf(sysfsRoot(), usbPortPath) / "tty" / ttyName, ec);
    fs::remove(fs::path(devRoot()) / ttyName, ec);
}

void FakeSysfs::removeUsbDevice(const std::string& usbPortPath) {
    if (usbPortPath.empty()) return;
    std::error_code ec;
    fs::remove_all(usbBus(sysfsRoot()) / usbPortPath, ec);
    fs::remove(fs::path(sysfsRoot()) / "bus" / "usb" / "devices" / usbPortPath, ec);
}

void FakeSysfs::addSecondInterface(const std::string& usbPortPath, const std::string& ttyName) {
    const fs::path interface = usbBus(sysfsRoot()) / usbPortPath / (usbPortPath + ":1.2");
    fs::create_directories(interface);
    addNode(devRoot(), ttyName, true);
    addClassEntry(sysfsRoot(), ttyName, interface / "tty" / ttyName, interface);
}

void FakeSysfs::addBoardSerial(const std::string& ttyName, bool withNode) {
    const fs::path sys = sysfsRoot();
    const fs::path device = sys / "devices" / "platform" / "serial8250";
    fs::create_directories(device);
    addClassEntry(sys, ttyName, device / "tty" / ttyName, device);
    addNode(devRoot(), ttyName, withNode);
}

void FakeSysfs::addVirtualTerminal(const std::string& ttyName) {
    const fs::path sys = sysfsRoot();
    addClassEntry(sys, ttyName, sys / "devices" / "virtual" / "tty" / ttyName, {});
    addNode(devRoot(), ttyName, true);
}

#include "toolsim/fake_sysfs.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
}

std::string hex4(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

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

}  // namespace

FakeSysfs::FakeSysfs(const std::string& root) : root_(root) {
    fs::create_directories(fs::path(root_) / "sys" / "class" / "tty");
    fs::create_directories(fs::path(root_) / "dev");
}

void FakeSysfs::addUsbSerial(const std::string& ttyName, uint32_t vendorId, uint32_t productId,
                             bool withNode, const std::string& product) {
    const fs::path sys = sysfsRoot();
    const std::string port = "1-" + std::to_string(++usbDevices_);
    const fs::path usbDevice = sys / "devices" / "pci0000:00" / "0000:00:14.0" / "usb1" / port;
    const fs::path interface = usbDevice / (port + ":1.0");
    fs::create_directories(interface);
    writeText(usbDevice / "idVendor", hex4(vendorId));
    writeText(usbDevice / "idProduct", hex4(productId));
    if (!product.empty()) writeText(usbDevice / "product", product);
    addClassEntry(sys, ttyName, interface / "tty" / ttyName, interface);
    addNode(devRoot(), ttyName, withNode);
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

#include "toolsim/usb_gadget.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

bool writeText(const std::string& file, const std::string& text) {
    std::ofstream out(file);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

std::string readText(const std::string& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    return text;
}

std::string hex(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

bool makeFolder(const std::string& path, std::string* error) {
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
    if (error) *error = "mkdir " + path + ": " + std::strerror(errno);
    return false;
}

// configfs takes a gadget apart only in the reverse order of its making.
void removeGadgetFolder(const std::string& folder) {
    std::error_code ec;
    if (!fs::exists(folder, ec)) return;
    writeText(folder + "/UDC", "\n");
    for (const auto& config : fs::directory_iterator(folder + "/configs", ec)) {
        std::error_code inner;
        for (const auto& entry : fs::directory_iterator(config.path(), inner)) {
            if (entry.is_symlink(inner)) ::unlink(entry.path().c_str());
        }
        for (const auto& strings : fs::directory_iterator(config.path() / "strings", inner)) {
            ::rmdir(strings.path().c_str());
        }
        ::rmdir(config.path().c_str());
    }
    for (const auto& function : fs::directory_iterator(folder + "/functions", ec)) {
        ::rmdir(function.path().c_str());
    }
    for (const auto& strings : fs::directory_iterator(folder + "/strings", ec)) {
        ::rmdir(strings.path().c_str());
    }
    ::rmdir(folder.c_str());
}

}  // namespace

std::string UsbGadget_root() {
    return "/sys/kernel/config/usb_gadget";
}

bool UsbGadget::create(const UsbGadgetIdentity& identity, std::string* error) {
    remove();
    const std::string folder = UsbGadget_root() + "/" + identity.name;
    removeGadgetFolder(folder);
    if (!makeFolder(folder, error)) return false;
    folder_ = folder;
    udc_ = identity.udc;
    const std::string strings = folder + "/strings/0x409";
    const std::string config = folder + "/configs/c.1";
    bool ok = writeText(folder + "/idVendor", hex(identity.vendorId)) &&
              writeText(folder + "/idProduct", hex(identity.productId)) &&
              writeText(folder + "/bcdDevice", "0x0100") && makeFolder(strings, error) &&
              writeText(strings + "/serialnumber", identity.serial) &&
              writeText(strings + "/manufacturer", identity.manufacturer) &&
              writeText(strings + "/product", identity.product) && makeFolder(config, error) &&
              makeFolder(config + "/strings/0x409", error) &&
              writeText(config + "/strings/0x409/configuration", "ACM") &&
              writeText(config + "/MaxPower", "100");
    for (int i = 0; ok && i < identity.acmFunctions; ++i) {
        const std::string function =
            folder + "/functions/acm." + identity.name + "_" + std::to_string(i);
        ok = makeFolder(function, error) &&
             ::symlink(function.c_str(), (config + "/acm" + std::to_string(i)).c_str()) == 0;
        if (!ok) break;
        functions_.push_back(function);
        terminals_.push_back("/dev/ttyGS" + readText(function + "/port_num"));
    }
    if (!ok) {
        if (error && error->empty()) *error = "setting up the gadget in " + folder + " failed";
        remove();
        return false;
    }
    return true;
}

bool UsbGadget::bind(std::string* error) {
    if (folder_.empty()) return false;
    if (bound_) return true;
    if (!writeText(folder_ + "/UDC", udc_)) {
        if (error) *error = "binding " + folder_ + " to " + udc_ + " failed";
        return false;
    }
    bound_ = true;
    return true;
}

void UsbGadget::unbind() {
    if (folder_.empty() || !bound_) return;
    writeText(folder_ + "/UDC", "\n");
    bound_ = false;
}

bool UsbGadget::setSerial(const std::string& serial) {
    return !folder_.empty() && writeText(folder_ + "/strings/0x409/serialnumber", serial);
}

void UsbGadget::remove() {
    if (folder_.empty()) return;
    unbind();
    removeGadgetFolder(folder_);
    folder_.clear();
    functions_.clear();
    terminals_.clear();
}

#include "guest/usb_nodes.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "guest/guest_process.h"

namespace fs = std::filesystem;

namespace {

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// The USB device a tty's interface belongs to: its serial.
std::string serialOfTty(const fs::path& tty) {
    return trimmed(File_read((tty / "device" / ".." / "serial").string()));
}

struct AcmTty {
    std::string name;       // ttyACMn
    std::string interface;  // e.g. 1-1:1.0, which orders a device's functions
    std::string serial;
};

std::vector<AcmTty> acmTtys() {
    std::vector<AcmTty> ttys;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("ttyACM")) continue;
        const fs::path device = fs::canonical(entry.path() / "device", ec);
        if (ec) continue;
        ttys.push_back({name, device.filename().string(), serialOfTty(entry.path())});
    }
    std::ranges::sort(ttys, {}, &AcmTty::interface);
    return ttys;
}

}  // namespace

std::vector<std::string> UsbNodes_of(const std::string& serial) {
    std::vector<std::string> nodes;
    for (const AcmTty& tty : acmTtys()) {
        std::error_code ec;
        if (tty.serial == serial && fs::exists("/dev/" + tty.name, ec)) {
            nodes.push_back("/dev/" + tty.name);
        }
    }
    return nodes;
}

std::string UsbNodes_wait(const std::string& serial, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::vector<std::string> nodes = UsbNodes_of(serial);
        if (!nodes.empty()) return nodes.front();
        if (std::chrono::steady_clock::now() >= end) return "";
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool UsbNodes_waitGone(const std::string& serial, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!UsbNodes_of(serial).empty()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

int UsbNodes_interfaceCount(const std::string& serial) {
    std::error_code ec;
    for (const auto& device : fs::directory_iterator("/sys/bus/usb/devices", ec)) {
        if (trimmed(File_read((device.path() / "serial").string())) != serial) continue;
        const std::string count = trimmed(File_read((device.path() / "bNumInterfaces").string()));
        return count.empty() ? -1 : std::atoi(count.c_str());
    }
    return -1;
}

SerialWatch::SerialWatch() : thread_([this] { watch(); }) {}

SerialWatch::~SerialWatch() {
    stop_ = true;
    thread_.join();
}

std::vector<std::string> SerialWatch::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

void SerialWatch::watch() {
    while (!stop_) {
        for (const AcmTty& tty : acmTtys()) {
            std::lock_guard lock(mutex_);
            if (!tty.serial.empty() && std::ranges::find(seen_, tty.serial) == seen_.end()) {
                seen_.push_back(tty.serial);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

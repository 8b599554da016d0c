// What the host's USB side shows of a device, looked up by its USB serial: the /dev/ttyACMn
// nodes cdc_acm made of it, and which serials enumerated while a case ran.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The device's ACM nodes in interface order ("/dev/ttyACM0", ...); none while it is away.
std::vector<std::string> UsbNodes_of(const std::string& serial);
// Its first node once it exists, or "" after `limit`.
std::string UsbNodes_wait(const std::string& serial, std::chrono::milliseconds limit);
// True once the device has no node left, false at `limit`.
bool UsbNodes_waitGone(const std::string& serial, std::chrono::milliseconds limit);
// The interfaces the USB device with this serial offers (bNumInterfaces), -1 when absent.
int UsbNodes_interfaceCount(const std::string& serial);

// Every USB serial that showed an ACM node while it watched, in the order they first came.
class SerialWatch {
  public:
    SerialWatch();
    ~SerialWatch();
    SerialWatch(const SerialWatch&) = delete;
    SerialWatch& operator=(const SerialWatch&) = delete;
    std::vector<std::string> seen() const;

  private:
    void watch();
    mutable std::mutex mutex_;
    std::vector<std::string> seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

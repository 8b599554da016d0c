// A small sysfs tree in a temporary folder, shaped like the kernel's: class/tty entries that
// link to devices whose USB ancestor names its ids, and a dev folder for the nodes.
#pragma once

#include <cstdint>
#include <string>

class FakeSysfs {
  public:
    explicit FakeSysfs(const std::string& root);

    // A USB serial device (a CDC ACM interface) under its USB device.
    void addUsbSerial(const std::string& ttyName, uint32_t vendorId, uint32_t productId,
                      bool withNode = true, const std::string& product = "");
    // A serial port on the main board: a device, but no USB ancestor.
    void addBoardSerial(const std::string& ttyName, bool withNode = true);
    // A virtual terminal: no device at all.
    void addVirtualTerminal(const std::string& ttyName);

    std::string sysfsRoot() const { return root_ + "/sys"; }
    std::string devRoot() const { return root_ + "/dev"; }

  private:
    std::string root_;
    int usbDevices_ = 0;
};

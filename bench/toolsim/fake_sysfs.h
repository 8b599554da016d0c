// A small sysfs tree in a temporary folder, shaped like the kernel's: class/tty entries that
// link to devices whose USB ancestor names its ids, and a dev folder for the nodes. Several
// virtual tools may share one tree: names are claimed by creating them, never by counting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct FakeUsbDevice {
    uint32_t vendorId = 0x04D8;
    uint32_t productId = 0xF32B;
    std::string product;                // none when empty
    std::optional<std::string> serial;  // the serial attribute's bytes; none: no such file
};

class FakeSysfs {
  public:
    explicit FakeSysfs(const std::string& root);

    // A USB serial device (a CDC ACM interface) under its USB device.
    void addUsbSerial(const std::string& ttyName, uint32_t vendorId, uint32_t productId,
                      bool withNode = true, const std::string& product = "");
    // The same for any device; returns its USB port path ("1-N").
    std::string addUsbSerial(const std::string& ttyName, const FakeUsbDevice& device,
                             bool withNode = true);
    // A second serial interface of that USB device (a composite device), with its own tty.
    void addSecondInterface(const std::string& usbPortPath, const std::string& ttyName);
    // A USB device that no serial driver took: listed on the bus, with no tty.
    std::string addUnservedUsbDevice(const FakeUsbDevice& device) { return addUsbDevice(device); }
    // A serial port on the main board: a device, but no USB ancestor.
    void addBoardSerial(const std::string& ttyName, bool withNode = true);
    // A virtual terminal: no device at all.
    void addVirtualTerminal(const std::string& ttyName);

    // For a device that comes and goes: the USB device stays put (its port path does not
    // change), its tty joins as the lowest free ttyACMn other than `avoid`, with a node that
    // links to `nodeTarget`, and leaves again. Empty results on failure.
    std::string addUsbDevice(const FakeUsbDevice& device);
    std::string attachTty(const std::string& usbPortPath, const std::string& nodeTarget,
                          const std::string& avoid = "");
    void detachTty(const std::string& usbPortPath, const std::string& ttyName);
    void removeUsbDevice(const std::string& usbPortPath);
    // A device whose USB serial changes while it is off the bus (a bootloader that shows
    // its own).
    void setSerial(const std::string& usbPortPath, const std::string& serial);

    std::string sysfsRoot() const { return root_ + "/sys"; }
    std::string devRoot() const { return root_ + "/dev"; }

  private:
    std::string root_;
};

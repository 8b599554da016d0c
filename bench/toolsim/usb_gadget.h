// A USB device of the machine's own making: a configfs gadget with one or more ACM serial
// functions, joined to a host controller of the same machine through a UDC (dummy_hcd in the
// test guest). Binding it to the UDC plugs the cable in; unbinding pulls it out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct UsbGadgetIdentity {
    std::string name;  // the gadget's folder under configfs usb_gadget
    std::string udc;   // e.g. dummy_udc.0
    uint16_t vendorId = 0x04D8;
    uint16_t productId = 0xF32B;
    std::string serial;
    std::string manufacturer = "Zarvik";
    std::string product = "KTX2";
    int acmFunctions = 1;
};

class UsbGadget {
  public:
    UsbGadget() = default;
    UsbGadget(const UsbGadget&) = delete;
    UsbGadget& operator=(const UsbGadget&) = delete;
    ~UsbGadget() { remove(); }

    // Makes the gadget, unbound. A gadget of the same name left behind is removed first.
    bool create(const UsbGadgetIdentity& identity, std::string* error);
    bool bind(std::string* error);
    void unbind();
    // The USB serial the host reads at the next enumeration.
    bool setSerial(const std::string& serial);
    void remove();

    bool created() const { return !folder_.empty(); }
    bool bound() const { return bound_; }
    // The gadget-side terminal of each ACM function, in the order the host numbers them.
    const std::vector<std::string>& terminals() const { return terminals_; }

  private:
    std::string folder_;
    std::string udc_;
    std::vector<std::string> functions_;
    std::vector<std::string> terminals_;
    bool bound_ = false;
};

// Where configfs keeps gadgets.
std::string UsbGadget_root();

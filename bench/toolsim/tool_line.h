// The line the virtual tool talks through, whichever transport carries it (a pseudo-terminal,
// a USB gadget): joining the bus publishes the node a host opens, leaving takes it away.
#pragma once

#include <memory>
#include <string>

#include "toolsim/usb_gadget.h"

struct LineJoin {
    int generation = 0;        // earlier comings on the bus: 0 at start, more after reboots
    bool reenumerate = false;  // come back under a new node, not the old one
};

class ToolLine {
  public:
    virtual ~ToolLine() = default;
    virtual bool join(const LineJoin& join, std::string* why) = 0;
    // Off the bus: the node goes first, then the line, whose unsent bytes go with the cable.
    virtual void leave() = 0;
    // At stop: what the line made to be found (a gadget, a fake USB device) goes too.
    virtual void remove() { leave(); }
    virtual int fd() const = 0;  // -1 off the bus
    virtual std::string devicePath() const = 0;
    // Where a fake sysfs tree shows it: its node and USB device; empty where none does.
    virtual std::string sysfsNode() const { return ""; }
    virtual std::string usbPortPath() const { return ""; }
};

// A pseudo-terminal whose device `linkPath` points at; shown in a fake sysfs tree at
// `sysfsRoot` with `usbSerial` when the root is not empty, and with `serialAfterReboot`
// from the first reboot on when that is not empty.
std::unique_ptr<ToolLine> ToolLine_pseudoTerminal(const std::string& linkPath,
                                                  const std::string& sysfsRoot,
                                                  const std::string& usbSerial,
                                                  const std::string& serialAfterReboot,
                                                  std::string* why);
// The first ACM function of a configfs gadget (a real USB device, in the test guest), whose
// USB serial becomes `serialAfterReboot` from the first reboot on when that is not empty.
std::unique_ptr<ToolLine> ToolLine_usbGadget(const UsbGadgetIdentity& identity,
                                             const std::string& serialAfterReboot,
                                             std::string* why);

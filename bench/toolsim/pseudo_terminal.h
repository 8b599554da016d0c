// The virtual tool's end of a serial line: a pseudo-terminal whose other end is published at
// a stable path, as a USB device's node appears when it joins the bus.
#pragma once

#include <string>

class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    ~PseudoTerminal() { close(); }

    // Opens a new terminal pair (raw, transparent) and points `linkPath` at its device.
    bool open(const std::string& linkPath, std::string* error);
    // Leaves the bus: the link path goes away and the host's descriptor hangs up.
    void close();

    bool isOpen() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& devicePath() const { return devicePath_; }

  private:
    int master_ = -1;
    int ownSlave_ = -1;  // keeps the line up while the host closes and reopens it
    std::string devicePath_;
    std::string linkPath_;
};

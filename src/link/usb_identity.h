// What names one tool across its reboots: the node it gets may change each time it rejoins
// the bus, its USB serial (or, lacking one, the USB socket it sits in) does not.
#pragma once

#include <string>
#include <vector>

#include "link/port_discovery.h"

struct UsbIdentity {
    std::string usbSerial;    // when the device gives one
    std::string usbPortPath;  // the socket, e.g. "1-2.3"; names the tool when it has no serial
};

bool UsbIdentity_isEmpty(const UsbIdentity& identity);
UsbIdentity UsbIdentity_of(const SerialPortInfo& port);
bool UsbIdentity_matches(const UsbIdentity& identity, const SerialPortInfo& port);

// The tool among `ports` that `identity` names, or null.
const SerialPortInfo* UsbIdentity_findTool(const std::vector<SerialPortInfo>& ports,
                                           const UsbIdentity& identity);
// The tool whose device node is `node` (both followed through their links), or null.
const SerialPortInfo* UsbIdentity_toolAtNode(const std::vector<SerialPortInfo>& ports,
                                             const std::string& node);

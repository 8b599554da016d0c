// What to tell a user whose tool was not found or could not be opened: the steps that get
// a first-time user from "no tool" to a working tool, from what sysfs and udev show.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "link/port_discovery.h"

inline constexpr const char* kToolRuleName = "70-zarvik-ktx2.rules";
// Where udev reads rules from; a package puts the tool's rule in the first.
inline const std::vector<std::string> kUdevRuleDirs = {"/usr/lib/udev/rules.d", "/lib/udev/rules.d",
                                                       "/etc/udev/rules.d"};

// How to give the user access to the tool: the udev rule (or, when it is installed already,
// plugging the tool in again) or the dialout group. `ruleDirs`: where to look for the rule.
std::string AccessGuidance_access(std::span<const std::string> ruleDirs);

// Why no tool could be used among `ports`, and what to do; empty when a tool is there and
// may be opened. `namedTool`: the USB serial the user asked for, empty: any tool.
// `unservedTools`: tools on the bus that no serial driver took (PortDiscovery_unservedTools).
std::string AccessGuidance_forPorts(const std::vector<SerialPortInfo>& ports,
                                    const std::string& namedTool,
                                    std::span<const std::string> ruleDirs = kUdevRuleDirs,
                                    int unservedTools = 0);

// The tools attached now, for a front end that lets the user pick one: how each is named so
// that the link finds that one and no other.
#pragma once

#include <string>
#include <vector>

#include "link/link_settings.h"
#include "link/port_discovery.h"

// The tools in name order, each once (a composite tool by its first interface).
std::vector<SerialPortInfo> AttachedTools_list(const LinkSettings& settings);
// Neither a port nor a tool is named: the link would take the first tool it finds.
bool AttachedTools_noneNamed(const LinkSettings& settings);
// A USB serial names a tool only when no other tool attached shows it too.
bool AttachedTools_namedBySerial(const std::vector<SerialPortInfo>& tools,
                                 const SerialPortInfo& tool);
// `settings` made to name `tool`: by its USB serial when that names it, else by its node.
void AttachedTools_name(LinkSettings& settings, const std::vector<SerialPortInfo>& tools,
                        const SerialPortInfo& tool);
// "USB serial KTX2-A, /dev/ttyACM0", or "no USB serial, /dev/ttyACM0".
std::string AttachedTools_label(const SerialPortInfo& tool);

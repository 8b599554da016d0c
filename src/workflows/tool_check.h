// Whether the tool that answers now is the one that was identified. Identical tools share a
// hardware identifier, and two tools can show the same USB serial: only the serial number
// of the configuration block tells them apart.
#pragma once

#include <string>

#include "package/firmware_package.h"

enum class ToolMatch { same, otherHardware, otherSerial };

// `identified` is the record of the identification, `attached` a fresh configuration read.
ToolMatch ToolCheck_compare(const FirmwarePackage& identified, const FirmwarePackage& attached);
// The line that names both tools when another one answered.
std::string ToolCheck_switchText(const FirmwarePackage& identified,
                                 const FirmwarePackage& attached);

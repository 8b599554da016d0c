#include "workflows/tool_check.h"

ToolMatch ToolCheck_compare(const FirmwarePackage& identified, const FirmwarePackage& attached) {
    if (attached.hardwareId != identified.hardwareId) return ToolMatch::otherHardware;
    if (attached.serialNumber != identified.serialNumber) return ToolMatch::otherSerial;
    return ToolMatch::same;
}

std::string ToolCheck_switchText(const FirmwarePackage& identified,
                                 const FirmwarePackage& attached) {
    const std::string other = std::to_string(attached.serialNumber);
    return "Serial number " + other + " answered in place of " +
           std::to_string(identified.serialNumber) + ": nothing is written to " + other;
}

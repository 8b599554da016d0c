// Who the tool is: bootloader version, identity block, configuration block.
#include <cstdio>
#include <string>

#include "core/byte_string.h"
#include "link/tool_commands.h"
#include "link/tool_request.h"
#include "package/firmware_package.h"

namespace {

// 123 gives 1.23: the hundreds, a point, two digits (the tool's numbers have three digits).
ByteString* shortVersionText(int32_t number) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d", number / 100, number % 100);
    return ByteString_fromText(text);
}

// 12345 gives 1.23.45.
ByteString* detailVersionText(int32_t number) {
    char text[40];
    std::snprintf(text, sizeof text, "%d.%02d.%02d", number / 10000, (number / 100) % 100,
                  number % 100);
    return ByteString_fromText(text);
}

int32_t digit(uint8_t c) {
    return static_cast<int32_t>(c) - '0';
}

}  // namespace

int Tool_readBootloaderVersion(ToolLink* link, FirmwarePackage* info) {
    ByteStringPtr reply = Tool_request(link, ToolCommand::ReadBootloaderVersion, 0,
                                       tool::kBootVersionReplySize, tool::kBootVersionReplySize);
    if (!reply) return 0;
    FirmwarePackage_setText(&info->bootVersion, ByteString_substring(reply.get(), 1, 4));
    // The byte between the digits is the point and is not examined.
    info->bootVersionNumber =
        digit(reply->data[1]) * 100 + digit(reply->data[3]) * 10 + digit(reply->data[4]);
    return 1;
}

int Tool_readIdentity(ToolLink* link, FirmwarePackage* info) {
    ByteStringPtr reply = Tool_request(link, ToolCommand::ReadMemory, tool::kIdentityAddress,
                                       tool::kIdentitySize, tool::kIdentitySize);
    if (!reply) return 0;
    const uint8_t* b = reply->data;

    const int32_t number = (b[0] << 16) | (b[1] << 8) | b[2];
    info->firmwareVersionNumber = number;
    FirmwarePackage_setText(&info->firmwareVersionShort, shortVersionText(number));
    info->variantCode = b[29];
    FirmwarePackage_setText(&info->deviceFamily, ByteString_substring(reply.get(), 9, 3));

    const int32_t detail = b[12] * 10000 + b[13] * 100 + b[14];
    if (number != detail / 100) {
        // Firmware that carries no detail: its build counts as 1 and its text gains ".01".
        info->firmwareDetailNumber = 0;
        info->firmwareBuild = 1;
        ByteString* text = ByteString_copy(info->firmwareVersionShort);
        ByteString_appendBytes(text, ".01", 3);
        FirmwarePackage_setText(&info->firmwareVersion, text);
    } else {
        info->firmwareDetailNumber = detail;
        FirmwarePackage_setText(&info->firmwareVersion, detailVersionText(detail));
        info->firmwareBuild = (b[16] << 8) | b[17];
        info->firmwareId = 0;
        if (detail > 21804 || ByteString_equalsText(info->deviceFamily, "KTX")) {
            ByteStringPtr id =
                Tool_request(link, ToolCommand::ReadData, tool::kFirmwareIdAddress, 2, 2);
            if (id) info->firmwareId = id->data[0] | (id->data[1] << 8);
        }
    }

    if (info->bootVersionNumber >= 114) {
        ByteStringPtr option = Tool_request(link, ToolCommand::ReadOptionCode, 0, 0, 1);
        if (option) info->optionCode = option->data[0];
    }
    return 1;
}

int Tool_readConfiguration(ToolLink* link, FirmwarePackage* info) {
    ByteStringPtr reply = Tool_request(link, ToolCommand::ReadMemory, tool::kConfigurationAddress,
                                       tool::kConfigurationSize, tool::kConfigurationSize);
    if (!reply) return 0;
    const uint8_t* b = reply->data;
    info->hardwareId = b[30] | (b[31] << 8);
    info->serialNumber = static_cast<uint32_t>(b[42]) | (static_cast<uint32_t>(b[43]) << 8) |
                         (static_cast<uint32_t>(b[44]) << 16) |
                         (static_cast<uint32_t>(b[45]) << 24);
    return 1;
}

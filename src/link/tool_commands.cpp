// The single-exchange commands.
#include "link/tool_commands.h"

#include "core/byte_string.h"
#include "link/frame_builder.h"
#include "link/frame_exchange.h"
#include "link/tool_request.h"

namespace {

constexpr int kRunModeUnknown = 3;

int acknowledged(ToolLink* link, ToolCommand command) {
    return Tool_request(link, command, 0, 0, 0) ? 1 : 0;
}

}  // namespace

int Tool_readRunMode(ToolLink* link) {
    ByteStringPtr reply = Tool_request(link, ToolCommand::ReadRunMode, tool::kRunModeAddress, 0, 1);
    if (!reply) return kRunModeUnknown;
    return reply->data[0] - '0';
}

int Tool_reboot(ToolLink* link) {
    return ToolLink_exchange(link, nullptr, commandCode(ToolCommand::Reboot), tool::kRebootAddress,
                             0, nullptr, 0, tool::kTimeoutShort, kSeedComputed);
}

int Tool_prepareBluetoothModule(ToolLink* link) {
    return acknowledged(link, ToolCommand::PrepareBluetoothModule);
}

int Tool_enterBootloader(ToolLink* link) {
    return acknowledged(link, ToolCommand::EnterBootloader);
}

int Tool_readBluetoothVersion(ToolLink* link) {
    ByteStringPtr reply =
        Tool_request(link, ToolCommand::ReadBluetoothVersion, tool::kBluetoothVersionAddress, 1, 1);
    if (!reply) return -1;
    return reply->data[0];
}

int Tool_eraseBlocks(ToolLink* link, int32_t first, int32_t count) {
    // With small values the address bytes read: first unit, end unit (exclusive), 0x35.
    const auto firstUnit = static_cast<uint32_t>(first);
    const uint32_t endUnit = firstUnit + static_cast<uint32_t>(count);
    const uint32_t address = firstUnit + endUnit * 256u + tool::kEraseRangeBase;
    ByteStringPtr reply =
        Tool_request(link, ToolCommand::EraseBlocks, address, 0, 0, tool::kTimeoutLong);
    if (!reply) return 0;
    return reply->length > 0 && reply->data[0] == tool::kRefusal ? 0 : 1;
}

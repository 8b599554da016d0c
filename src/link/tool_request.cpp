#include "link/tool_request.h"

#include "link/frame_builder.h"
#include "link/frame_exchange.h"

ByteStringPtr Tool_request(ToolLink* link, ToolCommand command, uint32_t address, int32_t length,
                           int32_t dataWanted, int32_t timeout) {
    ByteStringPtr reply(ByteString_create(length > 0 ? length + 1 : 8));
    if (!ToolLink_exchange(link, reply.get(), commandCode(command), address, length, nullptr, 0,
                           timeout, kSeedComputed)) {
        return nullptr;
    }
    if (dataWanted > 0 && reply->length < dataWanted + 1) return nullptr;
    return reply;
}

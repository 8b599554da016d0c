// The common shape of a command: a normal frame without payload whose reply must carry a
// number of data bytes before its final "O".
#pragma once

#include <cstdint>

#include "core/byte_string.h"
#include "link/tool_protocol.h"

struct ToolLink;

// The reply, or null when the exchange failed or the reply holds fewer than `dataWanted`
// data bytes (a bare "HI" holds none), so that no caller reads past what arrived. With
// `dataWanted` 0 any success counts, "HI" included.
ByteStringPtr Tool_request(ToolLink* link, ToolCommand command, uint32_t address, int32_t length,
                           int32_t dataWanted, int32_t timeout = tool::kTimeoutShort);

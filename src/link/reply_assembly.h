// How the bytes received so far stand as the reply of one exchange, however they were split
// into reads. The exchange keeps reading while the reply is waiting.
#pragma once

#include <cstdint>
#include <span>

enum class ReplyVerdict {
    Waiting,   // more bytes may complete it
    Hi,        // exactly "HI": success without data
    Complete,  // at least the bytes expected and the final "O"
    Refused,   // more than the tool sends for this request: another reply's bytes
    Full,      // the receive buffer is full and does not end the reply
};

// `received` is what the receive buffer holds; `length` the length argument of the request;
// `suspect` tells that an earlier exchange gave up on its reply.
ReplyVerdict ToolReply_assess(std::span<const uint8_t> received, int32_t length, bool suspect);

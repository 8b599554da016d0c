#include "link/reply_assembly.h"

#include "link/tool_link.h"
#include "link/tool_protocol.h"

namespace {

constexpr size_t kMostShortReply = 2;  // one data byte and the final "O"

}  // namespace

ReplyVerdict ToolReply_assess(std::span<const uint8_t> received, int32_t length, bool suspect) {
    const size_t expected = length > 0 ? static_cast<size_t>(length) + 1 : 1;
    const size_t n = received.size();
    // The tool sends exactly the data asked for, and at most one byte to a command without
    // length: anything more belongs to another reply. Without length the line may still
    // carry the stale bytes of a send-only command or a late refusal, which the callers read,
    // so the short limit holds only after a reply was given up.
    if (length > 0 ? n > expected : suspect && n > kMostShortReply) return ReplyVerdict::Refused;
    if (n == 2 && received[0] == 'H' && received[1] == 'I') return ReplyVerdict::Hi;
    if (n >= expected && received[n - 1] == tool::kReplyEnd) return ReplyVerdict::Complete;
    if (n >= static_cast<size_t>(kReceiveBufferSize)) return ReplyVerdict::Full;
    return ReplyVerdict::Waiting;
}

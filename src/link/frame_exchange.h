// One request and its reply: the frame is sent, then the link is watched until a complete
// reply has arrived or the time is up. No retries: callers repeat or give up.
#pragma once

#include <cstdint>

struct ByteString;
struct ToolLink;

// 1 on success, 0 on failure (time-out, device gone, link not open). On success the whole
// reply, data and final "O", is appended to `reply`; a reply of just "HI" succeeds and
// appends nothing. `reply` null: send only. The wait lasts at least timeout x the timing's
// exchange unit (T 500: 5 s) unless the device disappears first. A reply with more data than
// `length` asked for is refused. After an exchange gave up on its reply, the next one first
// waits for the line to fall quiet and takes its reply only when no further bytes follow it,
// so a late answer is never read as a later reply.
int ToolLink_exchange(ToolLink* link, ByteString* reply, uint32_t command, uint32_t address,
                      int32_t length, const ByteString* payload, uint8_t raw, int32_t timeout,
                      int32_t seed);

#include "link/frame_exchange.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "core/byte_string.h"
#include "core/stop_request.h"
#include "link/frame_builder.h"
#include "link/link_trace.h"
#include "link/reply_assembly.h"
#include "link/tool_link.h"
#include "link/tool_protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

bool deviceGone(int error) {
    // cdc_acm gives ESHUTDOWN and EPROTO as well for a device that is leaving.
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF || error == EPIPE ||
           error == ESHUTDOWN || error == EPROTO;
}

// Waits for `events` until the deadline; returns poll's revents, 0 when the time is up.
short waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd p{fd, events, 0};
        int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r > 0) return p.revents;
        if (r == 0) return 0;
        if (errno != EINTR) return POLLERR;
    }
}

// Writes the whole frame. A failed write is repeated until the deadline, except when the
// device has gone away, which no repetition mends.
bool writeAll(const ToolLink* link, const ByteString* frame, Clock::time_point deadline) {
    int32_t sent = 0;
    while (sent < frame->length) {
        ssize_t n = ::write(link->descriptor, frame->data + sent,
                            static_cast<size_t>(frame->length - sent));
        if (n > 0) {
            sent += static_cast<int32_t>(n);
            continue;
        }
        int error = n < 0 ? errno : EAGAIN;
        if (error == EINTR) continue;
        if (deviceGone(error)) return false;
        if (Clock::now() >= deadline) return false;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            short revents = waitFor(link->descriptor, POLLOUT, deadline);
            if (revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
        } else {
            std::this_thread::sleep_for(link->settings.timing.writeRetryPause);
        }
    }
    return true;
}

enum class ReadOutcome { Some, Nothing, Gone };

ReadOutcome readAvailable(ToolLink* link, int32_t& received) {
    if (received >= kReceiveBufferSize) return ReadOutcome::Nothing;
    ssize_t n = ::read(link->descriptor, link->receiveBuffer + received,
                       static_cast<size_t>(kReceiveBufferSize - received));
    if (n > 0) {
        received += static_cast<int32_t>(n);
        return ReadOutcome::Some;
    }
    // Nothing yet (EAGAIN, or 0 from a terminal); a hang-up is told by poll.
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return ReadOutcome::Nothing;
    }
    return deviceGone(errno) ? ReadOutcome::Gone : ReadOutcome::Nothing;
}

// Reads and drops whatever arrives until the line has been quiet for `quiet`. False when the
// device has gone or the line does not fall quiet before the deadline.
bool drainUntilQuiet(ToolLink* link, uint32_t command, Clock::duration quiet,
                     Clock::time_point deadline) {
    for (;;) {
        const auto quietUntil = Clock::now() + quiet;
        if (quietUntil > deadline) return false;
        const short revents = waitFor(link->descriptor, POLLIN, quietUntil);
        if (revents == 0) return true;
        ssize_t n = ::read(link->descriptor, link->receiveBuffer, kReceiveBufferSize);
        if (n > 0) {
            LinkTrace_bytes(link->settings.trace, LinkTraceDirection::Received, command,
                            {link->receiveBuffer, static_cast<size_t>(n)}, "stale, dropped");
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
        return false;
    }
}

// `received` tells how many bytes the receive buffer holds afterwards, whatever the result.
int receiveReply(ToolLink* link, ByteString* reply, int32_t length, Clock::duration wait,
                 bool suspect, int32_t& received) {
    const auto deadline = Clock::now() + wait;
    bool hungUp = false;
    for (;;) {
        const ReadOutcome outcome = readAvailable(link, received);
        // A device that has left the bus never completes the reply: stop waiting for it.
        if (outcome == ReadOutcome::Gone || (outcome == ReadOutcome::Nothing && hungUp)) return 0;
        const ReplyVerdict verdict =
            ToolReply_assess({link->receiveBuffer, static_cast<size_t>(received)}, length, suspect);
        if (verdict == ReplyVerdict::Refused) return 0;
        if (verdict == ReplyVerdict::Hi || verdict == ReplyVerdict::Complete) {
            // After a given-up reply, one that is followed by more bytes may be the late one.
            if (suspect && waitFor(link->descriptor, POLLIN,
                                   Clock::now() + link->settings.timing.lineQuiet) != 0) {
                return 0;
            }
            if (verdict == ReplyVerdict::Complete) {
                ByteString_appendBytes(reply, link->receiveBuffer, received);
            }
            return 1;
        }
        if (Clock::now() >= deadline) return 0;
        if (verdict == ReplyVerdict::Full) {
            // A full buffer that does not end the reply cannot grow: sit out the time.
            std::this_thread::sleep_until(deadline);
            return 0;
        }
        hungUp =
            (waitFor(link->descriptor, POLLIN, deadline) & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
}

}  // namespace

int ToolLink_exchange(ToolLink* link, ByteString* reply, uint32_t command, uint32_t address,
                      int32_t length, const ByteString* payload, uint8_t raw, int32_t timeout,
                      int32_t seed) {
    if (link == nullptr || !link->open || link->descriptor < 0) return 0;
    const Timing& timing = link->settings.timing;
    const auto wait = timing.exchangeUnit * (timeout > 0 ? timeout : 0);

    if (StopRequest_requested(link->settings.stop)) {
        LinkTrace_bytes(link->settings.trace, LinkTraceDirection::Sent, command, {},
                        "not sent, the run was stopped", true);
        return 0;
    }
    // The late bytes of a reply given up before, by this link or before the line was opened,
    // must not start this one.
    const bool fresh = link->freshLine != 0;
    link->freshLine = 0;
    const bool suspect = link->unsettled != 0;
    if ((fresh || suspect) &&
        !drainUntilQuiet(link, command, timing.lineQuiet, Clock::now() + wait)) {
        LinkTrace_bytes(link->settings.trace, LinkTraceDirection::Sent, command, {},
                        "not sent, the line did not fall quiet", true);
        return 0;
    }

    ByteStringPtr frame(ToolFrame_build(command, address, length, payload, raw, seed));
    std::this_thread::sleep_for(timing.preWritePause);
    const bool written = writeAll(link, frame.get(), Clock::now() + wait);
    LinkTrace_bytes(link->settings.trace, LinkTraceDirection::Sent, command,
                    {frame->data, static_cast<size_t>(frame->length)},
                    !written           ? "not fully written"
                    : reply == nullptr ? "send only"
                    : raw              ? "raw"
                                       : "",
                    !written);
    if (!written) {
        link->unsettled = 1;
        return 0;
    }
    if (reply == nullptr) return 1;
    int32_t received = 0;
    const int result = receiveReply(link, reply, length, wait, suspect, received);
    LinkTrace_bytes(link->settings.trace, LinkTraceDirection::Received, command,
                    {link->receiveBuffer, static_cast<size_t>(received)},
                    result ? "" : "given up, no complete reply", !result);
    link->unsettled = result ? 0 : 1;
    return result;
}

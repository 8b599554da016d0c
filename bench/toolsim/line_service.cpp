// The virtual tool serving its line (tool_line.h): coming on the bus, reading frames, pacing
// the line, writing the answers, leaving the bus at a reboot or a cut and coming back after
// the reboot or a power cycle.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "link/tool_protocol.h"
#include "toolsim/virtual_tool.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kLineBytesPerSecond = 25600;

Clock::duration lineTime(size_t bytes) {
    return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 1000000000 / kLineBytesPerSecond);
}

}  // namespace

void VirtualTool::wake() {
    if (wakeWrite_ >= 0) {
        uint8_t b = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &b, 1);
    }
}

void VirtualTool::waitForWake(int milliseconds) {
    pollfd p{wakeRead_, POLLIN, 0};
    if (::poll(&p, 1, milliseconds) > 0) {
        uint8_t drain[64];
        while (::read(wakeRead_, drain, sizeof drain) > 0) {
        }
    }
}

void VirtualTool::pauseUnlessStopped(std::chrono::milliseconds pause) {
    // The wake byte is left in the pipe, so the serving loop still sees a stop.
    pollfd p{wakeRead_, POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(pause.count()));
}

bool VirtualTool::bringOnline(std::string* error) {
    LineJoin join;
    {
        std::lock_guard lock(mutex_);
        join = {power_.generation, power_.reenumerate};
    }
    if (!line_->join(join, error)) return false;
    lineFreeAt_ = Clock::now();
    std::lock_guard lock(mutex_);
    power_.online = true;
    ++power_.generation;
    power_.devicePath = line_->devicePath();
    power_.sysfsNode = line_->sysfsNode();
    changed_.notify_all();
    return true;
}

void VirtualTool::run() {
    while (!stopping_) {
        if (!lineOpen()) {
            if (goneForGood_) {
                if (!takePowerUp()) waitForWake(-1);
                continue;
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(returnAt_ - Clock::now());
            if (left.count() > 0) {
                waitForWake(static_cast<int>(left.count()) + 1);
                continue;
            }
            std::string why;
            if (!bringOnline(&why)) {
                goneForGood_ = true;
                std::lock_guard lock(mutex_);
                power_.failure = "could not come back on the bus: " + why;
            }
            continue;
        }
        serveLine();
    }
}

void VirtualTool::serveLine() {
    int timeout = -1;
    if (!input_.empty()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            lastByteAt_ + options_.frameTimeout - Clock::now());
        timeout = static_cast<int>(std::max<int64_t>(left.count(), 0)) + 1;
    }
    // A tool that stopped reading leaves what the host sends on the line.
    pollfd fds[2] = {{deaf_ ? -1 : lineFd(), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    int r = ::poll(fds, 2, timeout);
    if (r < 0 && errno != EINTR) {
        // A poll that fails now fails again at once: the pause keeps the loop from spinning.
        waitForWake(static_cast<int>(options_.deadLinePause.count()));
        return;
    }
    if (fds[1].revents & POLLIN) {
        waitForWake(0);
        return;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        uint8_t buffer[4096];
        ssize_t n = ::read(lineFd(), buffer, sizeof buffer);
        if (n > 0) {
            if (input_.empty()) frameStartedAt_ = Clock::now();
            lastByteAt_ = Clock::now();
            input_.insert(input_.end(), buffer, buffer + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            // A hung-up line (a gadget whose host went away) stays readable and yields
            // nothing; it is looked at again after a pause, not at once.
            waitForWake(static_cast<int>(options_.deadLinePause.count()));
        }
    }
    consumeInput();
    if (!input_.empty() && Clock::now() - lastByteAt_ >= options_.frameTimeout) {
        noteStray(input_.size());
        input_.clear();
    }
}

void VirtualTool::noteStray(size_t count) {
    std::lock_guard lock(mutex_);
    ToolAnswers_noteStray(answers_, std::span<const uint8_t>(input_.data(), count));
}

void VirtualTool::consumeInput() {
    while (!input_.empty() && lineOpen() && !deaf_ && !stopping_) {
        ParseContext context;
        {
            std::lock_guard lock(mutex_);
            context.bluetoothRecords = answers_.bluetoothUpdate;
        }
        IncomingFrame frame;
        ParseResult result = IncomingFrame_parse(input_, context, frame);
        if (result == ParseResult::NeedMore) return;
        if (result == ParseResult::NotAFrame) {
            noteStray(1);
            input_.erase(input_.begin());
            frameStartedAt_ = Clock::now();
            continue;
        }
        if (options_.pacing) {
            const auto arrival = std::max(frameStartedAt_, lineFreeAt_) + lineTime(frame.size);
            std::this_thread::sleep_until(arrival);
            lineFreeAt_ = arrival;
        }
        ToolOutcome outcome;
        {
            std::lock_guard lock(mutex_);
            outcome = ToolAnswers_answer(answers_, memory_, options_.extraArea, frame,
                                         std::span<const uint8_t>(input_.data(), frame.size));
        }
        input_.erase(input_.begin(), input_.begin() + static_cast<ptrdiff_t>(frame.size));
        frameStartedAt_ = Clock::now();
        sendReply(outcome);
        switch (outcome.after) {
            case ToolAfter::Nothing:
                break;
            case ToolAfter::Reboot:
                if (outcome.leaveDelay.count() > 0) pauseUnlessStopped(outcome.leaveDelay);
                goOffline(false);
                return;
            case ToolAfter::SelfReboot:
                noteFramesUntil(Clock::now() + options_.selfRebootPause);
                goOffline(false);
                return;
            case ToolAfter::Vanish:
                goOffline(true);
                return;
            case ToolAfter::StopReading:
                deaf_ = true;
                input_.clear();
                return;
        }
    }
}

void VirtualTool::noteFramesUntil(Clock::time_point end) {
    for (auto left = end - Clock::now(); left > Clock::duration::zero() && !stopping_;
         left = end - Clock::now()) {
        pollfd p{lineFd(), POLLIN, 0};
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
        if (::poll(&p, 1, static_cast<int>(ms)) <= 0 || !(p.revents & POLLIN)) continue;
        uint8_t buffer[4096];
        const ssize_t n = ::read(lineFd(), buffer, sizeof buffer);
        if (n > 0) input_.insert(input_.end(), buffer, buffer + n);
        IncomingFrame frame;
        for (ParseResult result; !input_.empty();) {
            result = IncomingFrame_parse(input_, ParseContext{}, frame);
            if (result == ParseResult::NeedMore) break;
            const size_t used = result == ParseResult::NotAFrame ? 1 : frame.size;
            if (result != ParseResult::NotAFrame) {
                std::lock_guard lock(mutex_);
                ToolAnswers_noteFrame(answers_, std::span<const uint8_t>(input_.data(), used));
            }
            input_.erase(input_.begin(), input_.begin() + static_cast<ptrdiff_t>(used));
        }
    }
}

void VirtualTool::sendReply(const ToolOutcome& outcome) {
    // Busy: what the host sends meanwhile waits on the line.
    if (outcome.delay.count() > 0) pauseUnlessStopped(outcome.delay);
    if (stopping_) return;
    const std::vector<uint8_t>& reply = outcome.reply;
    const size_t piece = outcome.pieceSize > 0 ? static_cast<size_t>(outcome.pieceSize)
                                               : std::max<size_t>(reply.size(), 1);
    for (size_t at = 0; at < reply.size(); at += piece) {
        const size_t take = std::min(piece, reply.size() - at);
        if (options_.pacing) std::this_thread::sleep_for(lineTime(take));
        if (!writeLine(std::span<const uint8_t>(reply.data() + at, take))) return;
        if (at + take < reply.size()) std::this_thread::sleep_for(options_.replyPiecePause);
    }
    if (outcome.late) {
        std::this_thread::sleep_for(options_.lateRefusalPause);
        const uint8_t refusal = tool::kRefusal;
        writeLine(std::span<const uint8_t>(&refusal, 1));
    }
}

bool VirtualTool::writeLine(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(lineFd(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        pollfd p{lineFd(), POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return false;  // nobody reads: the reply is lost
    }
    return true;
}

void VirtualTool::goOffline(bool forGood) {
    {
        // Off the bus before the host can notice the hang-up.
        std::lock_guard lock(mutex_);
        power_.online = false;
        power_.devicePath.clear();
        power_.sysfsNode.clear();
    }
    line_->leave();
    input_.clear();
    deaf_ = false;
    std::lock_guard lock(mutex_);
    if (forGood) {
        goneForGood_ = true;
    } else {
        ++power_.reboots;
        ToolPower_restart(answers_, memory_);
        goneForGood_ = answers_.faults.stayAway;
        returnAt_ = Clock::now() + options_.rebootDelay;
    }
    changed_.notify_all();
}

bool VirtualTool::takePowerUp() {
    std::lock_guard lock(mutex_);
    if (!power_.powerUpAsked) return false;
    power_.powerUpAsked = false;
    if (!ToolPower_powerUp(answers_, memory_)) return false;
    goneForGood_ = false;
    returnAt_ = Clock::now();
    return true;
}

bool VirtualTool::powerCycle(std::chrono::milliseconds limit) {
    int next = 0;
    {
        std::lock_guard lock(mutex_);
        if (power_.online) return true;
        power_.powerUpAsked = true;
        next = power_.generation + 1;
    }
    wake();
    return waitForGeneration(next, limit);
}

// The virtual tool's line: a pseudo-terminal, or the terminal of a USB gadget while it is bound
// (the cable plugged in); reading frames from it, pacing it and writing the answers.
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
    bool reenumerate = false;
    {
        std::lock_guard lock(mutex_);
        reenumerate = reenumerate_;
    }
    std::string why;
    if (gadget_.created()) {
        if (!openGadgetLine(&why)) {
            if (error) *error = why;
            return false;
        }
        lineFreeAt_ = Clock::now();
        std::lock_guard lock(mutex_);
        online_ = true;
        ++generation_;
        devicePath_ = gadget_.terminals().front();
        changed_.notify_all();
        return true;
    }
    bool opened = terminal_.open(linkPath_, &why);
    // The kernel hands out the lowest free terminal number, most often the old one: while
    // it is held, the next terminal gets another.
    std::vector<int> held;
    while (opened && reenumerate && terminal_.devicePath() == lastTerminal_ && held.size() < 4) {
        held.push_back(::dup(terminal_.master()));
        opened = terminal_.open(linkPath_, &why);
    }
    for (int fd : held) {
        if (fd >= 0) ::close(fd);
    }
    if (opened && sysfs_) {
        if (!options_.serialAfterReboot.empty() && generation() > 0) {
            sysfs_->setSerial(usbPortPath(), options_.serialAfterReboot);
        }
        ttyName_ = sysfs_->attachTty(usbPortPath(), terminal_.devicePath(),
                                     reenumerate ? lastTtyName_ : "");
        if (ttyName_.empty()) {
            why = "no free tty name in the fake sysfs tree";
            terminal_.close();
            opened = false;
        }
    }
    if (!opened) {
        if (error) *error = why;
        return false;
    }
    lastTerminal_ = terminal_.devicePath();
    if (!ttyName_.empty()) lastTtyName_ = ttyName_;
    lineFreeAt_ = Clock::now();
    std::lock_guard lock(mutex_);
    online_ = true;
    ++generation_;
    devicePath_ = terminal_.devicePath();
    sysfsNode_ = ttyName_.empty() ? "" : sysfs_->devRoot() + "/" + ttyName_;
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
            if (!bringOnline(nullptr)) goneForGood_ = true;
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
    if (r < 0 && errno != EINTR) return;
    if (fds[1].revents & POLLIN) {
        waitForWake(0);
        return;
    }
    if (fds[0].revents & POLLIN) {
        uint8_t buffer[4096];
        ssize_t n = ::read(lineFd(), buffer, sizeof buffer);
        if (n > 0) {
            if (input_.empty()) frameStartedAt_ = Clock::now();
            lastByteAt_ = Clock::now();
            input_.insert(input_.end(), buffer, buffer + n);
        }
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
        waitForWake(10);  // nobody on the line; the tool keeps its own end, so rarely seen
    }
    consumeInput();
    if (!input_.empty() && Clock::now() - lastByteAt_ >= options_.frameTimeout) {
        noteStray(input_.size());
        input_.clear();
    }
}

void VirtualTool::noteStray(size_t count) {
    constexpr size_t kShown = 64;
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < count && strayShown_.size() < kShown; ++i) {
        strayShown_.push_back(input_[i]);
    }
    strayCount_ += count;
}

void VirtualTool::consumeInput() {
    while (!input_.empty() && lineOpen() && !deaf_ && !stopping_) {
        ParseContext context;
        {
            std::lock_guard lock(mutex_);
            context.bluetoothRecords = bluetoothUpdate_;
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
        Outcome outcome = handle(frame, std::span<const uint8_t>(input_.data(), frame.size));
        input_.erase(input_.begin(), input_.begin() + static_cast<ptrdiff_t>(frame.size));
        frameStartedAt_ = Clock::now();
        sendReply(outcome);
        switch (outcome.after) {
            case After::Nothing:
                break;
            case After::Reboot:
                if (outcome.leaveDelay.count() > 0) pauseUnlessStopped(outcome.leaveDelay);
                goOffline(false);
                return;
            case After::SelfReboot:
                noteFramesUntil(Clock::now() + options_.selfRebootPause);
                goOffline(false);
                return;
            case After::Vanish:
                goOffline(true);
                return;
            case After::StopReading:
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
                frames_.emplace_back(input_.begin(), input_.begin() + static_cast<ptrdiff_t>(used));
            }
            input_.erase(input_.begin(), input_.begin() + static_cast<ptrdiff_t>(used));
        }
    }
}

void VirtualTool::sendReply(const Outcome& outcome) {
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

// The line's transport: the pseudo-terminal, or the gadget's terminal while it is bound.

int VirtualTool::lineFd() const {
    return gadget_.created() ? gadgetFd_ : terminal_.master();
}

bool VirtualTool::lineOpen() const {
    return gadget_.created() ? gadgetFd_ >= 0 : terminal_.isOpen();
}

void VirtualTool::closeLine() {
    if (gadgetFd_ >= 0) {
        // Unsent bytes go with the cable: the close must not wait for a host that is gone.
        ::tcflush(gadgetFd_, TCIOFLUSH);
        ::close(gadgetFd_);
        gadgetFd_ = -1;
    }
    gadget_.unbind();
    terminal_.close();
}

bool VirtualTool::openGadgetLine(std::string* why) {
    if (!options_.serialAfterReboot.empty() && generation() > 0) {
        gadget_.setSerial(options_.serialAfterReboot);
    }
    if (!gadget_.bind(why)) return false;
    const std::string& path = gadget_.terminals().front();
    gadgetFd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios line{};
    if (gadgetFd_ < 0 || ::tcgetattr(gadgetFd_, &line) != 0) {
        if (why) *why = "opening " + path + ": " + std::strerror(errno);
        closeLine();
        return false;
    }
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(gadgetFd_, TCSANOW, &line);
    return true;
}

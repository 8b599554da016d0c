#include "toolsim/virtual_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/tool_protocol.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr uint8_t kEnd = tool::kReplyEnd;
constexpr uint32_t kLineBytesPerSecond = 25600;
constexpr int kSelfRebootVersion = 121;  // above this a bootloader restarts by itself
constexpr size_t kLogLimit = 100000;     // frames and records kept for inspection

// Largest program each area takes.
constexpr size_t kAreaLimit[kRawTargetCount] = {256 * 1024, 256 * 1024, 8 * 1024 * 1024,
                                                1024 * 1024};

Clock::duration lineTime(size_t bytes) {
    return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 1000000000 / kLineBytesPerSecond);
}

// "1.23" gives 123; anything else -1.
int versionNumber(const std::string& text) {
    if (text.size() != 4 || text[1] != '.') return -1;
    for (int i : {0, 2, 3}) {
        if (text[static_cast<size_t>(i)] < '0' || text[static_cast<size_t>(i)] > '9') return -1;
    }
    return (text[0] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0');
}

template <typename T>
void trimLog(std::vector<T>& log) {
    if (log.size() >= kLogLimit) log.erase(log.begin(), log.begin() + kLogLimit / 2);
}

std::optional<uint16_t> lengthField(const IncomingFrame& f) {
    if (f.body.size() < 2) return std::nullopt;
    return static_cast<uint16_t>(f.body[0] | (f.body[1] << 8));
}

}  // namespace

bool VirtualTool::start(const std::string& statePath, const std::string& linkPath,
                        const ToolSimOptions& options, std::string* error) {
    std::optional<ToolState> state = ToolState_load(statePath, error);
    return state && start(*state, linkPath, options, error);
}

bool VirtualTool::start(const ToolState& state, const std::string& linkPath,
                        const ToolSimOptions& options, std::string* error) {
    stop();
    options_ = options;
    linkPath_ = linkPath;
    {
        std::lock_guard lock(mutex_);
        bootLetter_ = state.bootLetter;
        slotVersions_ = state.bootSlotVersions;
        runMode_ = state.runMode;
        activeSlot_ = state.runMode == 0 ? 0 : 1;
        optionCode_ = state.optionCode;
        bluetoothVersion_ = state.bluetoothVersion;
        inBootloader_ = rawTransferOpen_ = bluetoothUpdate_ = false;
        lastSector_ = kNoSector;
        completedSlot_.reset();
        programMemory_.clear();
        programMemory_.write(tool::kIdentityAddress, state.identity);
        programMemory_.write(tool::kConfigurationAddress, state.configuration);
        dataMemory_.clear();
        ToolState_fillDataMemory(state, dataMemory_);
        for (auto& p : programs_) p.clear();
        records_.clear();
        frames_.clear();
        refused_ = reboots_ = 0;
        blocksSeen_ = 0;
        phaseFrames_.clear();
        faults_ = Faults{};
        generation_ = 0;
        reenumerate_ = options.reenumerate;
    }
    lastTerminal_.clear();
    lastTtyName_.clear();
    deaf_ = false;
    if (!options.gadget.name.empty() && !gadget_.create(options.gadget, error)) return false;
    if (!options.fakeSysfsRoot.empty()) {
        sysfs_.emplace(options.fakeSysfsRoot);
        FakeUsbDevice device;
        device.product = "KTX2";
        if (!options.usbSerial.empty()) device.serial = options.usbSerial;
        const std::string port = sysfs_->addUsbDevice(device);
        if (port.empty()) {
            if (error) *error = "no room for a USB device in " + options.fakeSysfsRoot;
            sysfs_.reset();
            return false;
        }
        std::lock_guard lock(mutex_);
        usbPortPath_ = port;
    }
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error) *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    goneForGood_ = false;
    input_.clear();
    if (!bringOnline(error)) {
        stop();
        return false;
    }
    stopping_ = false;
    thread_ = std::thread(&VirtualTool::run, this);
    return true;
}

void VirtualTool::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
    closeLine();
    gadget_.remove();
    if (sysfs_) {
        sysfs_->detachTty(usbPortPath(), ttyName_);
        sysfs_->removeUsbDevice(usbPortPath());
        sysfs_.reset();
    }
    ttyName_.clear();
    if (wakeRead_ >= 0) ::close(wakeRead_);
    if (wakeWrite_ >= 0) ::close(wakeWrite_);
    wakeRead_ = wakeWrite_ = -1;
    std::lock_guard lock(mutex_);
    online_ = false;
    sysfsNode_.clear();
    usbPortPath_.clear();
    changed_.notify_all();
}

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

void VirtualTool::goOffline(bool forGood) {
    {
        // Off the bus before the host can notice the hang-up.
        std::lock_guard lock(mutex_);
        online_ = false;
        devicePath_.clear();
        sysfsNode_.clear();
    }
    // The node goes with the tty entry, before the host sees the hang-up.
    if (sysfs_) sysfs_->detachTty(usbPortPath(), ttyName_);
    ttyName_.clear();
    closeLine();
    input_.clear();
    deaf_ = false;
    std::lock_guard lock(mutex_);
    if (forGood) {
        goneForGood_ = true;
    } else {
        ++reboots_;
        restartState();
        goneForGood_ = faults_.stayAway;
        returnAt_ = Clock::now() + options_.rebootDelay;
    }
    changed_.notify_all();
}

void VirtualTool::restartState() {
    if (completedSlot_) {
        const int slot = *completedSlot_;
        activeSlot_ = slot;
        runMode_ = slot;
        const std::vector<uint8_t>& program = programs_[static_cast<size_t>(slot)];
        if (program.size() >= 4) {
            std::string text(program.begin(), program.begin() + 4);
            if (versionNumber(text) >= 0) slotVersions_[static_cast<size_t>(slot)] = text;
        }
        completedSlot_.reset();
    }
    rawTransferOpen_ = bluetoothUpdate_ = inBootloader_ = false;
    lastSector_ = kNoSector;
    if (faults_.hardwareIdAfterReboot) {
        const int id = *faults_.hardwareIdAfterReboot;
        const uint8_t bytes[2] = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
        programMemory_.write(tool::kConfigurationAddress + 30, bytes);
    }
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
    if (!input_.empty() && Clock::now() - lastByteAt_ >= options_.frameTimeout) input_.clear();
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
                std::this_thread::sleep_for(options_.selfRebootPause);
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

bool VirtualTool::takeFault(std::map<int, CommandFault>& table, int command) {
    auto it = table.find(command);
    if (it == table.end()) return false;
    CommandFault& fault = it->second;
    if (fault.after > 0) {
        --fault.after;
        return false;
    }
    if (fault.times > 0 && --fault.times == 0) table.erase(it);
    return true;
}

VirtualTool::Outcome VirtualTool::refusal(RefusalStyle style) {
    Outcome o;
    if (style == RefusalStyle::Immediate) {
        o.reply = {tool::kRefusal, kEnd};
    } else {
        o.reply = {kEnd};
        o.late = true;
    }
    return o;
}

VirtualTool::Outcome VirtualTool::handle(const IncomingFrame& frame,
                                         std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    // A long session keeps its recent history only.
    if (frames_.size() >= kLogLimit)
        frames_.erase(frames_.begin(), frames_.begin() + kLogLimit / 2);
    if (records_.size() >= kLogLimit) {
        records_.erase(records_.begin(), records_.begin() + kLogLimit / 2);
    }
    frames_.emplace_back(bytes.begin(), bytes.end());
    Outcome outcome = [&]() -> Outcome {
        const bool block = frame.raw || frame.command == commandCode(ToolCommand::WriteBlock) ||
                           frame.command == commandCode(ToolCommand::WriteSector);
        if (!frame.raw && !frame.checksumOk) {
            ++refused_;
            return refusal(RefusalStyle::Immediate);
        }
        const int64_t index = block ? blocksSeen_++ : -1;
        const std::optional<ToolPhase> phase = ToolPhase_of(frame, options_.extraArea);
        const int64_t inPhase = phase ? phaseFrames_[*phase]++ : -1;
        auto at = [&](const std::optional<CutPoint>& point) {
            return phase && point && CutPoint_hits(*point, *phase, inPhase, frame);
        };
        if (at(faults_.cutAt)) {
            faults_.cutAt.reset();
            Outcome gone;
            gone.after = After::Vanish;
            return gone;
        }
        if (at(faults_.stopReadingAt)) {
            faults_.stopReadingAt.reset();
            Outcome deaf;
            deaf.after = After::StopReading;
            return deaf;
        }
        if (at(faults_.refuseAtPoint)) {
            faults_.refuseAtPoint.reset();
            return refusal(RefusalStyle::Immediate);
        }
        if (!frame.raw && takeFault(faults_.silent, frame.command)) return {};
        if (!frame.raw && takeFault(faults_.half, frame.command)) {
            Outcome half = handleCommand(frame);
            half.reply.resize(half.reply.size() / 2);
            return half;
        }
        if (block && faults_.vanishAt == index) {
            faults_.vanishAt.reset();
            Outcome gone;
            gone.after = After::Vanish;
            return gone;
        }
        if (!frame.raw && takeFault(faults_.hi, frame.command)) return {{'H', 'I'}};
        if (!frame.raw && takeFault(faults_.late, frame.command)) {
            Outcome answer = handleCommand(frame);
            answer.delay = faults_.lateDelay;
            return answer;
        }
        if (block && faults_.refuseAt == index) {
            faults_.refuseAt.reset();
            return refusal(faults_.refusalStyle);
        }
        return frame.raw ? handleRecord(frame) : handleCommand(frame);
    }();
    outcome.pieceSize = faults_.pieceSize;
    return outcome;
}

VirtualTool::Outcome VirtualTool::handleCommand(const IncomingFrame& f) {
    const Outcome refuse{{tool::kRefusal, kEnd}};
    const Outcome ack{{kEnd}};
    auto data = [](std::vector<uint8_t> bytes) {
        bytes.push_back(kEnd);
        return Outcome{std::move(bytes)};
    };
    const std::optional<uint16_t> length = lengthField(f);

    switch (static_cast<ToolCommand>(f.command)) {
        case ToolCommand::ReadBootloaderVersion: {
            std::string version = slotVersions_[static_cast<size_t>(activeSlot_)];
            version.resize(4, ' ');
            std::vector<uint8_t> reply{static_cast<uint8_t>(bootLetter_)};
            reply.insert(reply.end(), version.begin(), version.end());
            return data(reply);
        }
        case ToolCommand::ReadMemory:
            if (!length) return refuse;
            return data(programMemory_.read(f.address, *length));
        case ToolCommand::WriteBlock:
            dataMemory_.write(f.address, f.body);
            return ack;
        case ToolCommand::WriteSector: {
            // Blocks smaller than a sector share its number: a write to the sector just
            // written continues where the previous one stopped.
            const uint32_t offset = f.address == lastSector_ && lastSectorFill_ < tool::kSectorSize
                                        ? lastSectorFill_
                                        : 0;
            dataMemory_.write(uint64_t{f.address} * tool::kSectorSize + offset, f.body);
            lastSector_ = f.address;
            lastSectorFill_ = offset + static_cast<uint32_t>(f.body.size());
            return ack;
        }
        case ToolCommand::EraseBlocks: {
            // first + end x 256 + 0x350000: the first unit in the low byte, the end above.
            if (f.address < tool::kEraseRangeBase) return refuse;
            const uint32_t range = f.address - tool::kEraseRangeBase;
            const uint32_t first = range & 0xFF;
            const uint32_t end = range >> 8;
            if (end < first) return refuse;
            dataMemory_.erasePages(first, end);
            return ack;
        }
        case ToolCommand::Reboot: {
            if (f.address != tool::kRebootAddress) return refuse;
            Outcome reboot;
            reboot.after = After::Reboot;
            reboot.leaveDelay = faults_.leaveDelay;
            return reboot;
        }
        case ToolCommand::ReadRunMode:
            if (f.address != tool::kRunModeAddress) return refuse;
            return data({static_cast<uint8_t>('0' + runMode_)});
        case ToolCommand::ReadData:
            if (!length) return refuse;
            return data(dataMemory_.read(f.address, *length));
        case ToolCommand::ReadOptionCode:
            return data({static_cast<uint8_t>(optionCode_)});
        case ToolCommand::ReadDataBlock:
            if (!length) return refuse;
            return data(dataMemory_.read(uint64_t{f.address} * tool::kSectorSize, *length));
        case ToolCommand::ReadBluetoothVersion:
            if (f.address != tool::kBluetoothVersionAddress) return refuse;
            return data({static_cast<uint8_t>(bluetoothVersion_)});
        case ToolCommand::StartBluetoothUpdate:
            bluetoothUpdate_ = true;
            return ack;
        case ToolCommand::PrepareBluetoothModule:
            return ack;
        case ToolCommand::EnterBootloader:
            inBootloader_ = true;
            return ack;
        case ToolCommand::OpenRawTransfer:
            rawTransferOpen_ = true;
            return ack;
        case ToolCommand::BluetoothRecord:  // only ever raw
        default:
            return refuse;
    }
}

VirtualTool::Outcome VirtualTool::handleRecord(const IncomingFrame& f) {
    const Outcome refuse{{tool::kRefusal, kEnd}};
    if (!f.recordOk || !rawTransferOpen_) {
        ++refused_;
        return refuse;
    }
    const RawRecordHeader& h = *f.header;
    const auto target = static_cast<size_t>(h.target);
    const size_t end = size_t{h.offset} + f.data.size();
    if (end > kAreaLimit[target]) {
        ++refused_;
        return refuse;
    }
    std::vector<uint8_t>& program = programs_[target];
    if (program.size() < end) program.resize(end, 0xFF);
    std::copy(f.data.begin(), f.data.end(), program.begin() + h.offset);
    records_.push_back({h.target, h.offset, h.last, f.data});
    partial_[target] = !h.last;

    Outcome outcome{{kEnd}};
    if (!h.last) return outcome;
    // A program takes effect once its last record is in.
    switch (h.target) {
        case RawTarget::BootSlot0:
        case RawTarget::BootSlot1:
            completedSlot_ = static_cast<int>(target);
            if (versionNumber(slotVersions_[static_cast<size_t>(activeSlot_)]) >
                kSelfRebootVersion) {
                outcome.after = After::SelfReboot;
                // Gone before the acknowledgement is out.
                if (faults_.selfRestartUnanswered) outcome.reply.clear();
            }
            break;
        case RawTarget::Firmware:
            if (program.size() >= static_cast<size_t>(kIdentityBlockSize)) {
                programMemory_.write(tool::kIdentityAddress,
                                     std::span<const uint8_t>(program.data(), kIdentityBlockSize));
            }
            break;
        case RawTarget::BluetoothModule:
            bluetoothVersion_ = program.empty() ? 0 : program[0];
            bluetoothUpdate_ = false;
            break;
    }
    return outcome;
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

// Observations and faults, for the callers.

bool VirtualTool::online() const {
    std::lock_guard lock(mutex_);
    return online_;
}

int VirtualTool::generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

bool VirtualTool::waitForGeneration(int generation, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return online_ && generation_ >= generation; });
}

std::string VirtualTool::devicePath() const {
    std::lock_guard lock(mutex_);
    return devicePath_;
}

std::string VirtualTool::sysfsNode() const {
    std::lock_guard lock(mutex_);
    return sysfsNode_;
}

std::string VirtualTool::usbPortPath() const {
    std::lock_guard lock(mutex_);
    return usbPortPath_;
}

void VirtualTool::reenumerateOnReboot(bool reenumerate) {
    std::lock_guard lock(mutex_);
    reenumerate_ = reenumerate;
}

void VirtualTool::silenceCommand(int command, int times, int after) {
    std::lock_guard lock(mutex_);
    faults_.silent[command] = CommandFault{after, times};
}

void VirtualTool::answerHi(int command, int times, int after) {
    std::lock_guard lock(mutex_);
    faults_.hi[command] = CommandFault{after, times};
}

void VirtualTool::answerLate(int command, std::chrono::milliseconds delay, int times, int after) {
    std::lock_guard lock(mutex_);
    faults_.late[command] = CommandFault{after, times};
    faults_.lateDelay = delay;
}

void VirtualTool::refuseBlock(int index, RefusalStyle style) {
    std::lock_guard lock(mutex_);
    faults_.refuseAt = blocksSeen_ + index;
    faults_.refusalStyle = style;
}

void VirtualTool::splitReplies(int pieceSize) {
    std::lock_guard lock(mutex_);
    faults_.pieceSize = pieceSize;
}

void VirtualTool::vanishAtBlock(int index) {
    std::lock_guard lock(mutex_);
    faults_.vanishAt = blocksSeen_ + index;
}

void VirtualTool::cutAt(const CutPoint& point) {
    std::lock_guard lock(mutex_);
    faults_.cutAt = point;
}

void VirtualTool::refuseAt(const CutPoint& point) {
    std::lock_guard lock(mutex_);
    faults_.refuseAtPoint = point;
}

void VirtualTool::answerHalf(int command, int times, int after) {
    std::lock_guard lock(mutex_);
    faults_.half[command] = CommandFault{after, times};
}

void VirtualTool::stayAwayAfterReboot(bool stayAway) {
    std::lock_guard lock(mutex_);
    faults_.stayAway = stayAway;
}

void VirtualTool::leaveLateOnReboot(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    faults_.leaveDelay = delay;
}

void VirtualTool::stopReadingAt(const CutPoint& point) {
    std::lock_guard lock(mutex_);
    faults_.stopReadingAt = point;
}

void VirtualTool::selfRestartUnanswered(bool unanswered) {
    std::lock_guard lock(mutex_);
    faults_.selfRestartUnanswered = unanswered;
}

void VirtualTool::changeHardwareIdAfterReboot(int hardwareId) {
    std::lock_guard lock(mutex_);
    faults_.hardwareIdAfterReboot = hardwareId;
}

void VirtualTool::clearFaults() {
    std::lock_guard lock(mutex_);
    faults_ = Faults{};
}

std::vector<std::vector<uint8_t>> VirtualTool::frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

void VirtualTool::clearFrames() {
    std::lock_guard lock(mutex_);
    frames_.clear();
}

int VirtualTool::refusedFrames() const {
    std::lock_guard lock(mutex_);
    return refused_;
}

int VirtualTool::rebootCount() const {
    std::lock_guard lock(mutex_);
    return reboots_;
}

int VirtualTool::runMode() const {
    std::lock_guard lock(mutex_);
    return runMode_;
}

std::string VirtualTool::bootVersion() const {
    std::lock_guard lock(mutex_);
    return slotVersions_[static_cast<size_t>(activeSlot_)];
}

int VirtualTool::bluetoothVersion() const {
    std::lock_guard lock(mutex_);
    return bluetoothVersion_;
}

bool VirtualTool::inBootloader() const {
    std::lock_guard lock(mutex_);
    return inBootloader_;
}

std::vector<uint8_t> VirtualTool::dataMemory(uint64_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    return dataMemory_.read(address, length);
}

std::map<uint64_t, std::vector<uint8_t>> VirtualTool::dataMemoryPages() const {
    std::lock_guard lock(mutex_);
    return dataMemory_.pages();
}

std::vector<uint8_t> VirtualTool::programMemory(uint64_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    return programMemory_.read(address, length);
}

std::vector<uint8_t> VirtualTool::program(RawTarget target) const {
    std::lock_guard lock(mutex_);
    return programs_[static_cast<size_t>(target)];
}

std::vector<StoredRecord> VirtualTool::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

void VirtualTool::writeDataMemory(uint64_t address, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    dataMemory_.write(address, bytes);
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

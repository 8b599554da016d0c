// The virtual tool's answers: each frame against its state and memory, with the faults it was
// told to show.
#include <algorithm>

#include "link/tool_protocol.h"
#include "toolsim/virtual_tool.h"

namespace {

constexpr uint8_t kEnd = tool::kReplyEnd;
constexpr int kSelfRebootVersion = 121;  // above this a bootloader restarts by itself
constexpr size_t kLogLimit = 100000;     // frames and records kept for inspection

// Largest program each area takes.
constexpr size_t kAreaLimit[kRawTargetCount] = {256 * 1024, 256 * 1024, 8 * 1024 * 1024,
                                                1024 * 1024};

std::optional<uint16_t> lengthField(const IncomingFrame& f) {
    if (f.body.size() < 2) return std::nullopt;
    return static_cast<uint16_t>(f.body[0] | (f.body[1] << 8));
}

}  // namespace

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
            if (ToolState_versionNumber(slotVersions_[static_cast<size_t>(activeSlot_)]) >
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

#include "toolsim/tool_answers.h"

#include "link/tool_protocol.h"
#include "toolsim/tool_state.h"

namespace {

constexpr uint8_t kEnd = tool::kReplyEnd;
constexpr int kSelfRebootVersion = 121;  // above this a bootloader restarts by itself
constexpr size_t kLogLimit = 100000;     // frames and records kept for inspection

std::optional<uint16_t> lengthField(const IncomingFrame& f) {
    if (f.body.size() < 2) return std::nullopt;
    return static_cast<uint16_t>(f.body[0] | (f.body[1] << 8));
}

ToolOutcome refusal(RefusalStyle style) {
    ToolOutcome o;
    if (style == RefusalStyle::Immediate) {
        o.reply = {tool::kRefusal, kEnd};
    } else {
        o.reply = {kEnd};
        o.late = true;
    }
    return o;
}

ToolOutcome then(ToolAfter after) {
    ToolOutcome o;
    o.after = after;
    return o;
}

ToolOutcome answerCommand(ToolAnswers& a, ToolMemory& memory, const IncomingFrame& f) {
    const ToolOutcome refuse{{tool::kRefusal, kEnd}};
    const ToolOutcome ack{{kEnd}};
    auto data = [](std::vector<uint8_t> bytes) {
        bytes.push_back(kEnd);
        return ToolOutcome{std::move(bytes)};
    };
    const std::optional<uint16_t> length = lengthField(f);

    switch (static_cast<ToolCommand>(f.command)) {
        case ToolCommand::ReadBootloaderVersion: {
            std::string version = a.slotVersions[static_cast<size_t>(a.activeSlot)];
            version.resize(4, ' ');
            std::vector<uint8_t> reply{static_cast<uint8_t>(a.bootLetter)};
            reply.insert(reply.end(), version.begin(), version.end());
            return data(reply);
        }
        case ToolCommand::ReadMemory:
            if (!length) return refuse;
            return data(memory.program.read(f.address, *length));
        case ToolCommand::WriteBlock:
            memory.data.write(f.address, f.body);
            return ack;
        case ToolCommand::WriteSector:
            ToolMemory_writeSector(memory, f.address, f.body);
            return ack;
        case ToolCommand::EraseBlocks: {
            // first + end x 256 + 0x350000: the first unit in the low byte, the end above.
            if (f.address < tool::kEraseRangeBase) return refuse;
            const uint32_t range = f.address - tool::kEraseRangeBase;
            const uint32_t first = range & 0xFF;
            const uint32_t end = range >> 8;
            if (end < first) return refuse;
            memory.data.erasePages(first, end);
            return ack;
        }
        case ToolCommand::Reboot: {
            if (f.address != tool::kRebootAddress) return refuse;
            ToolOutcome reboot = then(ToolAfter::Reboot);
            reboot.leaveDelay = a.faults.leaveDelay;
            return reboot;
        }
        case ToolCommand::ReadRunMode:
            if (f.address != tool::kRunModeAddress) return refuse;
            return data({static_cast<uint8_t>('0' + a.runMode)});
        case ToolCommand::ReadData:
            if (!length) return refuse;
            return data(memory.data.read(f.address, *length));
        case ToolCommand::ReadOptionCode:
            return data({static_cast<uint8_t>(a.optionCode)});
        case ToolCommand::ReadDataBlock:
            if (!length) return refuse;
            return data(memory.data.read(uint64_t{f.address} * tool::kSectorSize, *length));
        case ToolCommand::ReadBluetoothVersion:
            if (f.address != tool::kBluetoothVersionAddress) return refuse;
            return data({static_cast<uint8_t>(a.bluetoothVersion)});
        case ToolCommand::StartBluetoothUpdate:
            a.bluetoothUpdate = true;
            return ack;
        case ToolCommand::PrepareBluetoothModule:
            return ack;
        case ToolCommand::EnterBootloader:
            a.inBootloader = true;
            return ack;
        case ToolCommand::OpenRawTransfer:
            a.rawTransferOpen = true;
            return ack;
        case ToolCommand::BluetoothRecord:  // only ever raw
        default:
            return refuse;
    }
}

ToolOutcome answerRecord(ToolAnswers& a, ToolMemory& memory, const IncomingFrame& f) {
    if (!f.recordOk || !a.rawTransferOpen || !ToolMemory_storeRecord(memory, *f.header, f.data)) {
        ++a.refused;
        return {{tool::kRefusal, kEnd}};
    }
    const RawRecordHeader& h = *f.header;
    ToolOutcome outcome{{kEnd}};
    if (!h.last) return outcome;
    // A program takes effect once its last record is in.
    switch (h.target) {
        case RawTarget::BootSlot0:
        case RawTarget::BootSlot1:
            a.completedSlot = static_cast<int>(h.target);
            if (ToolState_versionNumber(a.slotVersions[static_cast<size_t>(a.activeSlot)]) >
                kSelfRebootVersion) {
                outcome.after = ToolAfter::SelfReboot;
                // Gone before the acknowledgement is out.
                if (a.faults.selfRestartUnanswered) outcome.reply.clear();
            }
            break;
        case RawTarget::Firmware:
            ToolMemory_showFirmwareIdentity(memory);
            break;
        case RawTarget::BluetoothModule: {
            const std::vector<uint8_t>& module =
                memory.programs[static_cast<size_t>(RawTarget::BluetoothModule)];
            a.bluetoothVersion = module.empty() ? 0 : module[0];
            a.bluetoothUpdate = false;
            break;
        }
    }
    return outcome;
}

// The answer with the faults it was told to show.
ToolOutcome answerWithFaults(ToolAnswers& a, ToolMemory& memory, const ExtraAreaPlace& extraArea,
                             const IncomingFrame& frame) {
    ToolFaults& faults = a.faults;
    const bool block = frame.raw || frame.command == commandCode(ToolCommand::WriteBlock) ||
                       frame.command == commandCode(ToolCommand::WriteSector);
    if (!frame.raw && !frame.checksumOk) {
        ++a.refused;
        return refusal(RefusalStyle::Immediate);
    }
    const int64_t index = block ? a.blocksSeen++ : -1;
    const std::optional<ToolPhase> phase = ToolPhase_of(frame, extraArea);
    const int64_t inPhase = phase ? a.phaseFrames[*phase]++ : -1;
    // A point of an update is hit once.
    auto at = [&](std::optional<CutPoint>& point) {
        const bool hit = phase && point && CutPoint_hits(*point, *phase, inPhase, frame);
        if (hit) point.reset();
        return hit;
    };
    if (at(faults.cutAt)) return then(ToolAfter::Vanish);
    if (at(faults.stopReadingAt)) return then(ToolAfter::StopReading);
    if (at(faults.refuseAtPoint)) return refusal(RefusalStyle::Immediate);
    const bool command = !frame.raw;
    if (command && ToolFaults_take(faults.silent, frame.command)) return {};
    if (command && ToolFaults_take(faults.half, frame.command)) {
        ToolOutcome half = answerCommand(a, memory, frame);
        half.reply.resize(half.reply.size() / 2);
        return half;
    }
    if (block && faults.vanishAt == index) {
        faults.vanishAt.reset();
        return then(ToolAfter::Vanish);
    }
    if (command && ToolFaults_take(faults.hi, frame.command)) return {{'H', 'I'}};
    if (command && ToolFaults_take(faults.late, frame.command)) {
        ToolOutcome answer = answerCommand(a, memory, frame);
        answer.delay = faults.lateDelay;
        return answer;
    }
    if (block && faults.refuseAt == index) {
        faults.refuseAt.reset();
        return refusal(faults.refusalStyle);
    }
    return frame.raw ? answerRecord(a, memory, frame) : answerCommand(a, memory, frame);
}

}  // namespace

void ToolAnswers_load(ToolAnswers& answers, const ToolState& state) {
    answers = ToolAnswers{};
    answers.bootLetter = state.bootLetter;
    answers.slotVersions = state.bootSlotVersions;
    answers.runMode = state.runMode;
    answers.activeSlot = state.runMode == 0 ? 0 : 1;
    answers.optionCode = state.optionCode;
    answers.bluetoothVersion = state.bluetoothVersion;
}

ToolOutcome ToolAnswers_answer(ToolAnswers& answers, ToolMemory& memory,
                               const ExtraAreaPlace& extraArea, const IncomingFrame& frame,
                               std::span<const uint8_t> bytes) {
    ToolMemory_trimRecords(memory, kLogLimit);
    ToolAnswers_noteFrame(answers, bytes);
    ToolOutcome outcome = answerWithFaults(answers, memory, extraArea, frame);
    outcome.pieceSize = answers.faults.pieceSize;
    return outcome;
}

void ToolAnswers_noteFrame(ToolAnswers& answers, std::span<const uint8_t> bytes) {
    // A long session keeps its recent history only.
    if (answers.frames.size() >= kLogLimit) {
        answers.frames.erase(answers.frames.begin(), answers.frames.begin() + kLogLimit / 2);
    }
    answers.frames.emplace_back(bytes.begin(), bytes.end());
}

void ToolAnswers_noteStray(ToolAnswers& answers, std::span<const uint8_t> bytes) {
    constexpr size_t kShown = 64;
    for (size_t i = 0; i < bytes.size() && answers.strayShown.size() < kShown; ++i) {
        answers.strayShown.push_back(bytes[i]);
    }
    answers.strayCount += bytes.size();
}

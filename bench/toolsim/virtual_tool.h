// The virtual tool: plays the KTX2 on a pseudo-terminal, or as a real USB device (a configfs
// gadget, in the test guest), so the real link code can be tested and demonstrated without
// hardware. It serves its line (tool_line.h) on a thread of its own, can pace it at 256000
// bit/s, and owns its parts: its answers (tool_answers.h, with the faults it was told to
// show), its memory (tool_memory.h), and its power and reboots (tool_power.h), all guarded
// by one mutex for the callers that look at them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "toolsim/tool_answers.h"
#include "toolsim/tool_line.h"
#include "toolsim/tool_memory.h"
#include "toolsim/tool_phase.h"
#include "toolsim/tool_power.h"
#include "toolsim/tool_state.h"
#include "toolsim/usb_gadget.h"

struct ToolSimOptions {
    bool pacing = false;                             // 25,600 bytes/s each way
    std::chrono::milliseconds rebootDelay{1000};     // off the bus after a reboot
    std::chrono::milliseconds frameTimeout{1000};    // a frame cut off this long is dropped
    std::chrono::milliseconds replyPiecePause{3};    // between the pieces of a split reply
    std::chrono::milliseconds lateRefusalPause{10};  // "O", then this, then "E"
    std::chrono::milliseconds selfRebootPause{20};   // answer, then this, then a self-reboot
    std::chrono::milliseconds deadLinePause{50};     // before a hung-up line is read again
    // Where the tool shows itself as a USB device: a FakeSysfs at this root (root/sys and
    // root/dev), with this USB serial (none when empty). Empty root: not shown.
    std::string fakeSysfsRoot;
    std::string usbSerial;
    bool reenumerate = false;  // see VirtualTool::reenumerateOnReboot
    ExtraAreaPlace extraArea;  // tells extra-file and directory writes from memory writes
    // A real USB device in place of the pseudo-terminal: a configfs gadget whose first ACM
    // function the tool serves (gadget.name empty: the pseudo-terminal). Its node appears on
    // the host as /dev/ttyACMn; linkPath then names nothing.
    UsbGadgetIdentity gadget;
    std::string serialAfterReboot;  // the USB serial from the first reboot on (gadget or
                                    // fake sysfs); empty: kept
};

class VirtualTool {
  public:
    VirtualTool() = default;
    VirtualTool(const VirtualTool&) = delete;
    VirtualTool& operator=(const VirtualTool&) = delete;
    ~VirtualTool() { stop(); }

    // Comes online at once: `linkPath` points at the terminal the host opens.
    bool start(const ToolState& state, const std::string& linkPath,
               const ToolSimOptions& options = {}, std::string* error = nullptr);
    bool start(const std::string& statePath, const std::string& linkPath,
               const ToolSimOptions& options, std::string* error);
    void stop();

    // On the bus: a terminal is published. Each time the tool comes online the generation
    // grows by one, so a caller can wait for the tool's return after a reboot.
    bool online() const;
    int generation() const;
    bool waitForGeneration(int generation, std::chrono::milliseconds limit) const;
    std::string devicePath() const;
    // In the fake sysfs tree: the node a host finds (a link to the terminal) and the USB
    // device's port path; empty when the tool is not shown there or is off the bus.
    std::string sysfsNode() const;
    std::string usbPortPath() const;
    // Each return from a reboot comes under a new terminal and, in the fake sysfs tree, a
    // new tty name, with the same USB serial; the old node is gone.
    void reenumerateOnReboot(bool reenumerate);

    // Faults. Block indexes count the write frames (commands 4 and 16, raw records) from
    // the moment the fault is set: 0 is the next block.
    // No answer at all to `command`, or "HI" instead of the answer: `times` times (-1:
    // always), after answering it normally `after` times.
    void silenceCommand(int command, int times = -1, int after = 0);
    void answerHi(int command, int times = -1, int after = 0);
    // A busy tool: the answer to `command` comes `delay` late, and the commands that arrive
    // meanwhile are answered after it, in order.
    void answerLate(int command, std::chrono::milliseconds delay, int times = 1, int after = 0);
    void refuseBlock(int index, RefusalStyle style = RefusalStyle::Immediate);
    void splitReplies(int pieceSize);  // 0: whole replies
    void vanishAtBlock(int index);     // leaves the bus for good, unanswered
    // At a point of an update: leaves the bus for good with that frame unanswered (memory
    // holds what came before it), or answers it "E" without storing it.
    void cutAt(const CutPoint& point);
    void refuseAt(const CutPoint& point);
    // The first half of the answer to `command`, then silence.
    void answerHalf(int command, int times = -1, int after = 0);
    void stayAwayAfterReboot(bool stayAway);
    // Stays on the bus this long after a reboot command before it leaves.
    void leaveLateOnReboot(std::chrono::milliseconds delay);
    // At a point of an update: stops reading the line, and stays on the bus.
    void stopReadingAt(const CutPoint& point);
    // A bootloader that restarts by itself leaves the bus before it answers the last record.
    void selfRestartUnanswered(bool unanswered);
    void changeHardwareIdAfterReboot(int hardwareId);
    // Power off and on after a cut (see tool_power.h): the tool comes back on the bus with
    // what its memory holds. False when no complete bootloader is left to start it, or it did
    // not come back within `limit`.
    bool powerCycle(std::chrono::milliseconds limit = std::chrono::seconds(5));
    void clearFaults();

    // What the tool saw and holds.
    std::vector<std::vector<uint8_t>> frames() const;  // every frame as it arrived
    void clearFrames();
    int refusedFrames() const;  // bad checksums and malformed records
    // Bytes that were no frame (a modem prober's "AT"), the first few kept to show.
    std::vector<uint8_t> strayBytes(size_t* count) const;
    int rebootCount() const;
    // What the tool was asked and could not do (come back after a reboot), else empty.
    std::string failure() const;
    int runMode() const;
    std::string bootVersion() const;  // of the running boot slot
    int bluetoothVersion() const;
    bool inBootloader() const;  // after command 22
    std::vector<uint8_t> dataMemory(uint64_t address, size_t length) const;
    std::map<uint64_t, std::vector<uint8_t>> dataMemoryPages() const;  // written 64 KB pages
    std::vector<uint8_t> programMemory(uint64_t address, size_t length) const;
    std::vector<uint8_t> program(RawTarget target) const;  // bytes written to a program area
    std::vector<StoredRecord> records() const;
    void writeDataMemory(uint64_t address, std::span<const uint8_t> bytes);

  private:
    void run();
    void serveLine();
    bool bringOnline(std::string* error);
    void goOffline(bool forGood);
    void waitForWake(int milliseconds);
    void pauseUnlessStopped(std::chrono::milliseconds pause);
    void consumeInput();
    void noteStray(size_t count);  // the first `count` bytes of input_ were no frame
    // Restarting by itself: what reaches the tool meanwhile is seen, never answered.
    void noteFramesUntil(std::chrono::steady_clock::time_point end);
    // On the tool's thread: a power-up asked for while the tool is gone for good.
    bool takePowerUp();
    void sendReply(const ToolOutcome& outcome);
    // The line, whichever transport carries it.
    int lineFd() const { return line_ ? line_->fd() : -1; }
    bool lineOpen() const { return lineFd() >= 0; }
    bool writeLine(std::span<const uint8_t> bytes);
    void wake();

    // Set at start.
    ToolSimOptions options_;
    std::thread thread_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};

    // Line state, used by the tool's thread only (and by start and stop).
    std::unique_ptr<ToolLine> line_;
    bool deaf_ = false;  // stopped reading the line
    std::vector<uint8_t> input_;
    std::chrono::steady_clock::time_point frameStartedAt_;
    std::chrono::steady_clock::time_point lastByteAt_;
    std::chrono::steady_clock::time_point lineFreeAt_;
    std::chrono::steady_clock::time_point returnAt_;
    bool goneForGood_ = false;

    // The parts, shared with the callers under mutex_.
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    ToolAnswers answers_;
    ToolMemory memory_;
    ToolPower power_;
};

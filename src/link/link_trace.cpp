#include "link/link_trace.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "core/private_file.h"
#include "link/tool_protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

// Big enough that a whole image write costs few system calls; lines come out at least this
// often, so a crash loses little of what led up to it.
constexpr size_t kStreamBuffer = 64 * 1024;
constexpr auto kFlushInterval = std::chrono::seconds(1);
constexpr size_t kLineSize = 512;

constexpr char kHex[] = "0123456789ABCDEF";

// Appends into a fixed line without allocating; text that does not fit is cut.
struct Line {
    char text[kLineSize];
    size_t used = 0;

    void add(std::string_view s) {
        const size_t n = std::min(s.size(), kLineSize - 1 - used);
        std::memcpy(text + used, s.data(), n);
        used += n;
    }
    void addf(const char* format, auto... values) {
        const int n = std::snprintf(text + used, kLineSize - used, format, values...);
        if (n > 0) used = std::min(used + static_cast<size_t>(n), kLineSize - 1);
    }
    void addHex(std::span<const uint8_t> bytes) {
        for (uint8_t b : bytes) {
            if (used + 4 >= kLineSize) return;
            text[used++] = ' ';
            text[used++] = kHex[b >> 4];
            text[used++] = kHex[b & 0x0F];
        }
    }
};

}  // namespace

struct LinkTrace {
    std::FILE* file = nullptr;
    Clock::time_point started;
    Clock::time_point flushed;
    std::mutex mutex;  // one workflow thread at a time, but lines must never interleave
    char buffer[kStreamBuffer];

    void write(Line& line, bool now) {
        line.text[line.used++] = '\n';
        std::lock_guard lock(mutex);
        std::fwrite(line.text, 1, line.used, file);
        const auto at = Clock::now();
        if (now || at - flushed >= kFlushInterval) {
            std::fflush(file);
            flushed = at;
        }
    }
    void stamp(Line& line) const {
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started).count();
        line.addf("%" PRId64 ".%06" PRId64, static_cast<int64_t>(us / 1000000),
                  static_cast<int64_t>(us % 1000000));
    }
};

LinkTrace* LinkTrace_open(const std::string& path, std::string* error) {
    // Serial numbers and every frame: for the user to hand on, not for others to read.
    const int fd = PrivateFile_openAppend(path);
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "a") : nullptr;
    if (file == nullptr) {
        const int saved = errno;
        if (fd >= 0) ::close(fd);
        if (error != nullptr) {
            *error = "cannot write the link trace " + path + ": " + std::strerror(saved);
        }
        return nullptr;
    }
    auto* trace = new LinkTrace;
    trace->file = file;
    std::setvbuf(file, trace->buffer, _IOFBF, sizeof trace->buffer);
    trace->started = trace->flushed = Clock::now();

    // Runs appended to one file stay apart, each with its wall-clock start.
    const std::time_t wall = std::time(nullptr);
    std::tm local{};
    char when[64] = "";
    if (localtime_r(&wall, &local) != nullptr) {
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S %z", &local);
    }
    Line line;
    line.addf("# zarvik link trace started %s; seconds since then, > sent, < received", when);
    trace->write(line, true);
    return trace;
}

void LinkTrace_close(LinkTrace* trace) {
    if (trace == nullptr) return;
    std::fclose(trace->file);
    delete trace;
}

const char* LinkTrace_commandName(uint32_t command) {
    switch (static_cast<ToolCommand>(command)) {
        case ToolCommand::ReadBootloaderVersion:
            return "ReadBootloaderVersion";
        case ToolCommand::ReadMemory:
            return "ReadMemory";
        case ToolCommand::WriteBlock:
            return "WriteBlock";
        case ToolCommand::EraseBlocks:
            return "EraseBlocks";
        case ToolCommand::Reboot:
            return "Reboot";
        case ToolCommand::ReadRunMode:
            return "ReadRunMode";
        case ToolCommand::ReadData:
            return "ReadData";
        case ToolCommand::ReadOptionCode:
            return "ReadOptionCode";
        case ToolCommand::WriteSector:
            return "WriteSector";
        case ToolCommand::ReadDataBlock:
            return "ReadDataBlock";
        case ToolCommand::ReadBluetoothVersion:
            return "ReadBluetoothVersion";
        case ToolCommand::BluetoothRecord:
            return "BluetoothRecord";
        case ToolCommand::StartBluetoothUpdate:
            return "StartBluetoothUpdate";
        case ToolCommand::PrepareBluetoothModule:
            return "PrepareBluetoothModule";
        case ToolCommand::EnterBootloader:
            return "EnterBootloader";
        case ToolCommand::OpenRawTransfer:
            return "OpenRawTransfer";
    }
    return nullptr;
}

void LinkTrace_bytes(LinkTrace* trace, LinkTraceDirection direction, uint32_t command,
                     std::span<const uint8_t> bytes, std::string_view note, bool failure) {
    if (trace == nullptr) return;
    Line line;
    trace->stamp(line);
    const char* name = LinkTrace_commandName(command);
    line.addf(" %c %s(%" PRIu32 ") %zu byte%s", static_cast<char>(direction),
              name != nullptr ? name : "unknown", command, bytes.size(),
              bytes.size() == 1 ? "" : "s");
    if (!note.empty()) {
        line.add(", ");
        line.add(note);
    }
    if (!bytes.empty()) line.add(":");
    if (bytes.size() <= kTraceHeadBytes + kTraceTailBytes) {
        line.addHex(bytes);
    } else {
        const size_t skipped = bytes.size() - kTraceHeadBytes - kTraceTailBytes;
        line.addHex(bytes.first(kTraceHeadBytes));
        line.addf(" ... (%zu bytes) ...", skipped);
        line.addHex(bytes.last(kTraceTailBytes));
    }
    trace->write(line, failure);
}

void LinkTrace_note(LinkTrace* trace, std::string_view text) {
    if (trace == nullptr) return;
    Line line;
    trace->stamp(line);
    line.add(" note ");
    line.add(text);
    trace->write(line, true);
}

void LinkTrace_event(LinkTrace* trace, LinkTraceEvent event, std::string_view node, int result,
                     int32_t lastError, int errnoValue) {
    if (trace == nullptr) return;
    Line line;
    trace->stamp(line);
    static constexpr std::string_view kNames[] = {" find ", " open ", " close ", " reboot "};
    line.add(kNames[static_cast<size_t>(event)]);
    line.add(node.empty() ? std::string_view("(no node)") : node);
    if (event == LinkTraceEvent::Reboot) {
        line.add(": the tool restarts, link marked not open");
    } else if (result) {
        line.add(": ok");
    } else if (event == LinkTraceEvent::Open) {
        line.addf(": failed, lastError %" PRId32 ", errno %d (%s)", lastError, errnoValue,
                  std::strerror(errnoValue));
    } else {
        line.add(event == LinkTraceEvent::Find ? ": no tool found" : ": failed");
    }
    trace->write(line, true);
}

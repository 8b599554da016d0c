// A trace of the conversation with the tool for support: every frame sent, every byte
// received, and every find, open and close of the link, each line stamped with the time
// since the trace began. The front end owns the trace and hands it to the link through its
// settings; without one the link formats nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

struct LinkTrace;

enum class LinkTraceDirection : char { Sent = '>', Received = '<' };
// In the order of their names in the trace.
enum class LinkTraceEvent { Find, Open, Close, Reboot };

// Bytes shown in full up to this many; longer runs keep their head and tail.
inline constexpr size_t kTraceHeadBytes = 32;
inline constexpr size_t kTraceTailBytes = 16;

// A trace appended to `path`, or null with `error` set when the file cannot be written.
LinkTrace* LinkTrace_open(const std::string& path, std::string* error);
// Writes out what is buffered and closes the file.
void LinkTrace_close(LinkTrace* trace);

// One line for the bytes of one frame or one reply of `command`; `note` says more about them
// ("raw", "stale, dropped"...). A `failure` line is written out at once: what led up to a
// failure is what support needs, even when the program does not survive it.
void LinkTrace_bytes(LinkTrace* trace, LinkTraceDirection direction, uint32_t command,
                     std::span<const uint8_t> bytes, std::string_view note = {},
                     bool failure = false);
// One line for a find, open, close or reboot on `node`, written out at once. `result` is
// what the operation returned; a failed open also names its last error and errno.
void LinkTrace_event(LinkTrace* trace, LinkTraceEvent event, std::string_view node, int result,
                     int32_t lastError = 0, int errnoValue = 0);

// One line of free text (what the updater could not arrange around the run), written out
// at once.
void LinkTrace_note(LinkTrace* trace, std::string_view text);

// The protocol's name of a command code ("ReadMemory"), or null for a code it does not name.
const char* LinkTrace_commandName(uint32_t command);

struct LinkTraceDeleter {
    void operator()(LinkTrace* trace) const { LinkTrace_close(trace); }
};
using LinkTracePtr = std::unique_ptr<LinkTrace, LinkTraceDeleter>;

// How the virtual tool reads the host's frames off the line.
//
// Normal frame: ";" N command address(3) body padding checksum(2). The body with its padding
// is 4N bytes long, except that N stops at 255: a write (command 4 or 16) with N = 255
// carries one 2048-byte block, the largest the tool takes.
//
// The tool cannot know a checksum seed. It checks every frame against the sum of its bytes
// from the command through the padding. For a seeded frame that is the same test as long as
// the seed is the 16-bit sum of the body, which holds for every seeded frame the host sends:
// image chunks carry the sum of their data bytes as their stored checksum (zero padding adds
// nothing, and the tool's block sizes need no "X" padding), and commands 20 and 23 are sent
// with seed 0 and no body. A chunk whose stored checksum does not match its data is refused.
//
// Raw frame: ":" (or ";" for Bluetooth records) N, then one image record (raw_record.h). Its
// length comes from the record header; N must agree with it. ";" frames are taken as
// Bluetooth records only while a module update is under way and the header names the module.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "toolsim/raw_record.h"

inline constexpr int kLargestWriteBlock = 2048;

struct IncomingFrame {
    size_t size = 0;  // bytes taken off the line
    bool raw = false;
    uint8_t start = 0;
    uint8_t words = 0;

    // Normal frames.
    uint8_t command = 0;
    uint32_t address = 0;
    std::vector<uint8_t> body;  // length field (if any), payload, padding
    bool checksumOk = false;

    // Raw frames.
    std::optional<RawRecordHeader> header;
    std::vector<uint8_t> data;
    bool recordOk = false;  // header names a target and agrees with N and the start byte
};

enum class ParseResult { NeedMore, Frame, NotAFrame };

struct ParseContext {
    bool bluetoothRecords = false;  // ";" may start a Bluetooth record
};

// NotAFrame: input[0] cannot start a frame; drop one byte and try again.
ParseResult IncomingFrame_parse(std::span<const uint8_t> input, const ParseContext& context,
                                IncomingFrame& frame);

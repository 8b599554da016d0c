// Realistic releases for the bench: packages whose bootloaders, firmware and Bluetooth image
// are raw-record images the virtual tool accepts, extra files in the server's 2048 + 2 block
// layout, and the whole demonstration catalogue with its tool records.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "packwriter/package_writer.h"
#include "toolsim/raw_record.h"
#include "toolsim/tool_state.h"

namespace catalogue {

using packwriter::Bytes;

// Deterministic filler.
Bytes patternBytes(size_t size, uint32_t seed);

// A bootloader program (its version text in the first bytes) as raw records for `slot`.
Bytes bootImage(int slot, const std::string& version, size_t programSize = 4096);
packwriter::Boot bootRecord(int slot, const std::string& version, bool compressed = true);

// The identity of firmware major.minor.patch with its build number.
IdentityValues identityOf(int major, int minor, int patch, int build = 1);
// "D.DD.DD" of an identity.
std::string versionText(const IdentityValues& identity);
// A firmware program that brings `identity` (its first bytes), as raw records.
Bytes firmwareProgram(const IdentityValues& identity, size_t programSize);
packwriter::Firmware firmwareRecord(const IdentityValues& identity, size_t programSize,
                                    bool compressed = true);

// A memory file record, alone in its area.
packwriter::FileGroup memoryFile(const std::string& name, uint8_t kind, uint32_t start,
                                 uint32_t eraseCount, Bytes data, bool checksumTrailer = false,
                                 bool compressed = true, std::string externalName = "");
// The extra-file area record.
packwriter::FileGroup cpakArea(uint8_t kind, uint32_t start, uint32_t eraseCount);

// `content` in blocks of up to 2048 bytes, each followed by its 16-bit sum (low byte first).
Bytes checksummedBlocks(const Bytes& content, size_t blockSize = 2048);
// What block writes of `blockSize` leave in the tool: the data of each checksummed block,
// the last one padded with zeros.
Bytes writtenBlocks(const Bytes& content, size_t blockSize);

// The Bluetooth module's image: byte 0 of its program is the module version.
Bytes bluetoothImage(int version, size_t programSize = 3000);

// Writes `image` as release `id`: "ktxFirmwares/<id>.gfr", ".gfi" and its external files.
void writeRelease(const std::filesystem::path& catalogueDir, uint32_t id,
                  const packwriter::Image& image);

// The demonstration catalogue: releases, user files, Bluetooth files and "records.json";
// the tool states of the demo go to `stateDir`. False with `error` set on failure.
bool writeDemoCatalogue(const std::filesystem::path& catalogueDir,
                        const std::filesystem::path& stateDir, std::string* error);

}  // namespace catalogue

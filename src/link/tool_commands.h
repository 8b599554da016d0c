// The tool's command set: identity reads into the tool information record (a FirmwarePackage),
// the simple commands, erasing, writing an image block by block and reading a stored file.
#pragma once

#include <cstdint>

#include "link/progress.h"

struct ByteString;
struct FirmwarePackage;
struct ToolLink;

// 1 when the exchange succeeded; stores bootVersion and bootVersionNumber.
int Tool_readBootloaderVersion(ToolLink* link, FirmwarePackage* info);
// 1 when the identity block was read (the later steps may fail silently). Reads
// bootVersionNumber, so Tool_readBootloaderVersion comes first.
int Tool_readIdentity(ToolLink* link, FirmwarePackage* info);
// 1 when the configuration block was read; stores hardwareId and serialNumber.
int Tool_readConfiguration(ToolLink* link, FirmwarePackage* info);
// The digit of the program that runs, or 3 when the tool did not answer.
int Tool_readRunMode(ToolLink* link);
// 1 when the frame was written; no answer is awaited.
int Tool_reboot(ToolLink* link);
int Tool_prepareBluetoothModule(ToolLink* link);
int Tool_enterBootloader(ToolLink* link);
// 0 to 255, or -1 when the tool did not answer.
int Tool_readBluetoothVersion(ToolLink* link);
// Erases `count` 64 KB units from `first`; 1 when the tool acknowledged and did not refuse.
int Tool_eraseBlocks(ToolLink* link, int32_t first, int32_t count);

// Writes `image` chunk by chunk, one frame each. `start` counts 512-byte sectors when `sector`
// is set, 64 KB blocks otherwise. `raw`: the image is a sequence of records of blockSize data
// bytes after a 6-byte header each; `checksum`: each chunk carries its 16-bit sum after its
// data; `firstBlock`: the first chunk is replaced by a block holding "1". `command` 0 picks
// the default (16 for sectors, else 4). 1 for success, 0 for failure.
// `end` says whether the tool may leave the bus before acknowledging the last chunk: a
// bootloader that restarts by itself once its image is in does, and that is no failure.
enum class ImageEnd { Acknowledged, ToolMayLeave };
int Tool_writeImage(ToolLink* link, const ByteString* image, int32_t blockSize, int raw,
                    int32_t start, int firstBlock, int sector, int checksum, uint32_t command,
                    const ProgressFn& progress = {}, ImageEnd end = ImageEnd::Acknowledged);

// Reads a stored file from data memory in 512-byte blocks: byte addresses from `start` when
// `sector` is set, else block numbers. On success the outputs (owned by the caller) hold the
// whole blocks, header block included, the two header texts and the header number; on
// failure they are left null.
int Tool_readFile(ToolLink* link, int32_t start, int sector, ByteString** data,
                  ByteString** header1, ByteString** header2, int32_t* headerNumber,
                  const ProgressFn& progress = {});

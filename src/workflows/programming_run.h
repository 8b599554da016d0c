// What one update run keeps from its tool check to its last report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "package/firmware_package.h"
#include "workflows/extra_area.h"

struct ProgrammingRun {
    uint32_t firmwareId = 0;     // the chosen firmware
    std::string firmwareName;    // its visible name, as chosen when the run started
    FirmwarePackagePtr package;  // downloaded package; freed with the run on every exit
    int32_t blockSize = 192;     // image bytes per frame for bootloaders and firmware
    int runMode = 0;             // last answer of the run mode query
    bool ok = true;
    bool substitute[2] = {false, false};  // a resource image replaces the boot slot's data
    int attempts = 0;
    int32_t eraseUnit = 256;
    std::optional<ExtraArea> extraArea;  // set when the package has a CPAK record
};

// 2048 for a serial link to a tool with bootloader 1.15 or above, else 256.
int32_t eraseUnitFor(int32_t bootVersionNumber, int serialState);
// Sectors the directory of `fileCount` extra files takes: whole 2048-byte blocks.
int32_t extraDirectorySectors(int32_t fileCount);
// Sectors reserved by an extra file handed to the write as `length` bytes.
int32_t extraFileSectors(int32_t length);

#pragma once

#include <cstdint>
#include <optional>

struct FirmwarePackage;
struct PackageFile;

// The tool's extra-file area: where its directory starts (512-byte sectors) and the kind of
// memory it lives in (1: written with command 4, else 16).
struct ExtraArea {
    int32_t base = 0;
    int32_t kind = 0;
};

// The file entry that describes the tool's extra-file area: the first one named "CPAK",
// spaces around the name allowed. Null when there is none.
const PackageFile* findExtraArea(const FirmwarePackage* package);
// The area a CPAK entry describes; empty when it lies where no write can reach it.
std::optional<ExtraArea> ExtraArea_locate(const PackageFile& cpak);

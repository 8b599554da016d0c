#pragma once

struct FirmwarePackage;
struct PackageFile;

// The file entry that describes the tool's extra-file area: the first one named "CPAK",
// spaces around the name allowed. Null when there is none.
const PackageFile* findExtraArea(const FirmwarePackage* package);

// The two readers behind FirmwarePackage_load. Both take descrambled bytes and add what they
// read to `package`; 1 on success, 0 when the input is malformed.
#pragma once

struct ByteString;
struct FirmwarePackage;
struct SectionBudget;

// Section data beyond the budget fails the read with `exceeded` set.
int PackageImage_read(FirmwarePackage* package, const ByteString* bytes, SectionBudget* budget);
int PackageInfo_read(FirmwarePackage* package, const ByteString* bytes);

// A loaded firmware package. The same record also stands for the attached tool: the link
// fills its identity fields, the server its record of the tool, and identification loads
// the installed firmware's package info into it, so tool and release compare field by field.
#pragma once

#include <cstdint>
#include <memory>

struct ByteString;

struct PackageSection {
    ByteString* data;  // decompressed data; null when external
    ByteString* name;
    ByteString* externalName;  // file holding the data instead; null unless external
    uint32_t compressed;
    uint32_t external;
};

struct PackageBoot {
    ByteString* name;  // version text such as 1.14
    uint32_t address;
    PackageSection* section;
};

struct PackageFirmware {
    ByteString* name;
    PackageSection* section;
    uint32_t build;
    uint32_t value2;
};

struct PackageFile {
    ByteString* name;
    ByteString* target;
    int32_t eraseCount;
    int32_t memoryKind;
    int32_t start;
    int32_t version1;
    int32_t version2;
    int32_t checksumTrailer;
    PackageSection* section;
};

inline constexpr int kPackageFileSlots = 50;

enum PackageKind : int32_t { PACKAGE_IMAGE = 1, PACKAGE_INFO = 2 };

struct FirmwarePackage {
    PackageBoot* boot[2];
    PackageFirmware* firmware;
    PackageFile* files[kPackageFileSlots];  // first null slot ends the list
    ByteString* nameList;                   // ";" then each name followed by ";"
    ByteString* fln;
    ByteString* fsn;

    // Tool identity, read from the tool.
    ByteString* firmwareVersionShort;  // D.DD
    ByteString* deviceFamily;          // e.g. KTX
    ByteString* firmwareVersion;       // D.DD.DD
    // The server's record of the tool.
    ByteString* toolName;
    ByteString* manualCode1;
    ByteString* manualCode2;
    ByteString* vehicle1;
    ByteString* vehicle2;
    ByteString* firmwareList;

    ByteString* bootVersion;  // D.DD
    ByteString* des;

    int32_t firmwareId;
    int32_t firmwareVersionNumber;  // 123 stands for 1.23
    int32_t firmwareDetailNumber;   // 12345 stands for 1.23.45
    int32_t variantCode;
    int32_t linkCode;  // the link's serial state + 1, sent in the emergency firmware query
    int32_t fileCount;
    int32_t optionCode;
    int32_t hardwareId;
    int32_t userNumber;
    int32_t bootVersionNumber;  // 114 stands for 1.14
    uint32_t serialNumber;
    int32_t firmwareBuild;
};

FirmwarePackage* FirmwarePackage_new();
void FirmwarePackage_free(FirmwarePackage* package);
void PackageSection_free(PackageSection* section);
void PackageBoot_free(PackageBoot* boot);
void PackageFirmware_free(PackageFirmware* firmware);
void PackageFile_free(PackageFile* file);

// Takes ownership of `file`; when all slots are taken the file is released.
void FirmwarePackage_addFile(FirmwarePackage* package, PackageFile* file);
void FirmwarePackage_setBoot(FirmwarePackage* package, int32_t slot, PackageBoot* boot);
void FirmwarePackage_setFirmware(FirmwarePackage* package, PackageFirmware* firmware);
int32_t FirmwarePackage_hasFile(const FirmwarePackage* package, const ByteString* name);

// Replaces `*field` by `value` (owned), releasing the previous string.
void FirmwarePackage_setText(ByteString** field, ByteString* value);

// The section data one package image may hold, inflated. The tool's memory map tops out near
// 8 MiB, so a package asking for four times that is broken or hostile, and loading it must not
// take the computer's memory with it. An image file larger than this is refused unread.
inline constexpr int64_t kPackageDataLimit = int64_t{32} << 20;

enum class PackageLoadFailure { none, unreadable, tooLarge };

// 1 on success, 0 on failure; `failure`, when given, tells why. `bytes` stay the caller's.
int FirmwarePackage_load(int32_t kind, FirmwarePackage* package, const ByteString* bytes,
                         int scrambled, PackageLoadFailure* failure = nullptr);
ByteString* FirmwarePackage_descramble(const ByteString* bytes);

struct FirmwarePackageDeleter {
    void operator()(FirmwarePackage* p) const { FirmwarePackage_free(p); }
};
using FirmwarePackagePtr = std::unique_ptr<FirmwarePackage, FirmwarePackageDeleter>;

#include "package/firmware_package.h"

#include <cstdlib>

#include "core/byte_string.h"

FirmwarePackage* FirmwarePackage_new() {
    auto* p = static_cast<FirmwarePackage*>(std::calloc(1, sizeof(FirmwarePackage)));
    if (p == nullptr) std::abort();
    return p;
}

void PackageSection_free(PackageSection* section) {
    if (section == nullptr) return;
    ByteString_free(section->data);
    ByteString_free(section->name);
    ByteString_free(section->externalName);
    std::free(section);
}

void PackageBoot_free(PackageBoot* boot) {
    if (boot == nullptr) return;
    ByteString_free(boot->name);
    PackageSection_free(boot->section);
    std::free(boot);
}

void PackageFirmware_free(PackageFirmware* firmware) {
    if (firmware == nullptr) return;
    ByteString_free(firmware->name);
    PackageSection_free(firmware->section);
    std::free(firmware);
}

void PackageFile_free(PackageFile* file) {
    if (file == nullptr) return;
    ByteString_free(file->name);
    ByteString_free(file->target);
    PackageSection_free(file->section);
    std::free(file);
}

void FirmwarePackage_free(FirmwarePackage* p) {
    if (p == nullptr) return;
    PackageBoot_free(p->boot[0]);
    PackageBoot_free(p->boot[1]);
    PackageFirmware_free(p->firmware);
    for (PackageFile* file : p->files) PackageFile_free(file);
    ByteString* texts[] = {p->nameList,     p->fln,
                           p->fsn,          p->firmwareVersionShort,
                           p->deviceFamily, p->firmwareVersion,
                           p->toolName,     p->manualCode1,
                           p->manualCode2,  p->vehicle1,
                           p->vehicle2,     p->firmwareList,
                           p->bootVersion,  p->des};
    for (ByteString* s : texts) ByteString_free(s);
    std::free(p);
}

void FirmwarePackage_addFile(FirmwarePackage* package, PackageFile* file) {
    for (PackageFile*& slot : package->files) {
        if (slot == nullptr) {
            slot = file;
            return;
        }
    }
    PackageFile_free(file);
}

void FirmwarePackage_setBoot(FirmwarePackage* package, int32_t slot, PackageBoot* boot) {
    if (slot < 0 || slot > 1) {
        PackageBoot_free(boot);
        return;
    }
    if (package->boot[slot] != boot) PackageBoot_free(package->boot[slot]);
    package->boot[slot] = boot;
}

void FirmwarePackage_setFirmware(FirmwarePackage* package, PackageFirmware* firmware) {
    if (package->firmware != firmware) PackageFirmware_free(package->firmware);
    package->firmware = firmware;
}

int32_t FirmwarePackage_hasFile(const FirmwarePackage* package, const ByteString* name) {
    if (package->nameList == nullptr || name == nullptr) return 0;
    ByteStringPtr pattern(ByteString_create(name->length + 2));
    ByteString_appendByte(pattern.get(), ';');
    ByteString_append(pattern.get(), name);
    ByteString_appendByte(pattern.get(), ';');
    return ByteString_countOccurrences(pattern.get(), package->nameList);
}

void FirmwarePackage_setText(ByteString** field, ByteString* value) {
    if (*field != value) ByteString_free(*field);
    *field = value;
}

#include "workflows/extra_area.h"

#include "core/byte_string.h"
#include "package/firmware_package.h"

const PackageFile* findExtraArea(const FirmwarePackage* package) {
    for (const PackageFile* file : package->files) {
        if (file == nullptr) break;
        if (file->name == nullptr) continue;
        ByteStringPtr trimmed(ByteString_trim(file->name, 3));
        if (ByteString_equalsText(trimmed.get(), "CPAK")) return file;
    }
    return nullptr;
}

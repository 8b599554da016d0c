#include "core/byte_string.h"
#include "core/pad_tables.h"
#include "package/firmware_package.h"
#include "package/package_readers.h"
#include "package/package_section.h"

ByteString* FirmwarePackage_descramble(const ByteString* bytes) {
    if (bytes == nullptr) return nullptr;
    ByteString* out = ByteString_copy(bytes);
    int32_t k = packagePadStart;
    for (int32_t i = 0; i < out->length; ++i) {
        out->data[i] ^= packagePadTable[static_cast<size_t>(k)];
        k = (k + packagePadStep) % static_cast<int32_t>(packagePadTable.size());
    }
    return out;
}

int FirmwarePackage_load(int32_t kind, FirmwarePackage* package, const ByteString* bytes,
                         int scrambled, PackageLoadFailure* failure) {
    PackageLoadFailure ignored = PackageLoadFailure::none;
    if (failure == nullptr) failure = &ignored;
    *failure = PackageLoadFailure::unreadable;
    if (package == nullptr || bytes == nullptr) return 0;
    if (kind != PACKAGE_IMAGE && kind != PACKAGE_INFO) return 0;
    if (kind == PACKAGE_IMAGE && bytes->length > kPackageDataLimit) {
        *failure = PackageLoadFailure::tooLarge;
        return 0;
    }
    ByteStringPtr plain(scrambled == 1 ? FirmwarePackage_descramble(bytes)
                                       : ByteString_copy(bytes));
    SectionBudget budget;
    int result = kind == PACKAGE_IMAGE ? PackageImage_read(package, plain.get(), &budget)
                                       : PackageInfo_read(package, plain.get());
    if (result == 1) {
        *failure = PackageLoadFailure::none;
    } else if (budget.exceeded) {
        *failure = PackageLoadFailure::tooLarge;
    }
    return result;
}

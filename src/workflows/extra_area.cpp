#include "workflows/extra_area.h"

#include "core/byte_string.h"
#include "package/firmware_package.h"

namespace {

// Frames carry 24-bit addresses: byte addresses for command 4, sector numbers for 16.
constexpr int64_t kFrameAddresses = int64_t{1} << 24;

}  // namespace

const PackageFile* findExtraArea(const FirmwarePackage* package) {
    for (const PackageFile* file : package->files) {
        if (file == nullptr) break;
        if (file->name == nullptr) continue;
        ByteStringPtr trimmed(ByteString_trim(file->name, 3));
        if (ByteString_equalsText(trimmed.get(), "CPAK")) return file;
    }
    return nullptr;
}

std::optional<ExtraArea> ExtraArea_locate(const PackageFile& cpak) {
    // Kind 1 counts in 64 KB blocks (128 sectors each) and is written by byte address.
    const bool blocks = cpak.memoryKind == 1;
    const int64_t base = blocks ? int64_t{cpak.start} * 128 : cpak.start;
    const int64_t sectors = blocks ? kFrameAddresses / 512 : kFrameAddresses;
    if (base < 0 || base >= sectors) return std::nullopt;
    return ExtraArea{static_cast<int32_t>(base), cpak.memoryKind};
}

#include "package/package_section.h"

#include "core/byte_string.h"
#include "package/firmware_package.h"
#include "package/image_cursor.h"
#include "package/package_records.h"

PackageSection* PackageSection_read(const ByteString* bytes, int32_t* cursor, int32_t version,
                                    SectionBudget* budget) {
    if (bytes == nullptr || cursor == nullptr) return nullptr;
    SectionBudget own;
    if (budget == nullptr) budget = &own;
    ImageCursor in(bytes, *cursor);
    uint32_t compressed = 0;
    uint32_t external = 0;
    if (!in.byte(compressed)) return nullptr;
    if (version >= 7 && !in.byte(external)) return nullptr;
    ByteStringPtr name = in.shortString();
    if (name == nullptr) return nullptr;

    PackageSectionPtr section(PackageRecord_new<PackageSection>());
    section->compressed = compressed;
    section->external = external;
    if (external == 1) {
        ByteStringPtr externalName = in.shortString();
        if (externalName == nullptr) return nullptr;
        section->externalName = externalName.release();
    } else {
        uint32_t length = 0;
        if (!in.u32(length)) return nullptr;
        ByteStringPtr stored = in.take(length);
        if (stored == nullptr) return nullptr;
        // Reserved whether the block inflates or not, so failing blocks cannot add up either.
        int64_t holds = compressed == 1 ? PackageSection_announcedLength(stored.get()) : length;
        if (holds > budget->remaining) {
            budget->exceeded = true;
            return nullptr;
        }
        budget->remaining -= holds;
        if (compressed == 1) stored.reset(PackageSection_inflate(stored.get()));
        section->data = stored.release();
    }
    section->name = name.release();
    *cursor = in.position();
    return section.release();
}

#include "fuzz_entries.h"

#include <algorithm>

#include "core/byte_string.h"
#include "fuzz_input.h"
#include "package/firmware_package.h"
#include "package/package_section.h"
#include "package/rechecksum.h"

namespace {

using fuzzinput::bytesOf;
using fuzzinput::terminated;

// Adds what the section's data holds in memory to `held`.
bool sectionHolds(const PackageSection* s, bool image, int64_t& held) {
    if (s == nullptr) return !image;
    if (!image || s->name == nullptr || !terminated(s->name)) return false;
    if (s->external == 1) return s->data == nullptr && s->externalName != nullptr;
    if (s->data == nullptr) return false;
    held += s->data->capacity;
    return s->externalName == nullptr && terminated(s->data);
}

// What a successful load leaves in the record, whatever the input.
bool packageHolds(const FirmwarePackage* p, bool image) {
    if (p->nameList == nullptr || p->nameList->length < 1 || p->nameList->data[0] != ';') {
        return false;
    }
    int64_t held = 0;
    for (const PackageBoot* b : p->boot) {
        if (b != nullptr && (b->name == nullptr || !sectionHolds(b->section, image, held))) {
            return false;
        }
    }
    if (p->firmware != nullptr &&
        (p->firmware->name == nullptr || !sectionHolds(p->firmware->section, image, held))) {
        return false;
    }
    bool ended = false;
    for (const PackageFile* f : p->files) {
        if (f == nullptr) {
            ended = true;
            continue;
        }
        if (ended || f->name == nullptr || f->target == nullptr) return false;
        if (f->section != nullptr && !sectionHolds(f->section, image, held)) return false;
    }
    if (image && (p->fsn == nullptr || p->fln == nullptr || p->des == nullptr)) return false;
    return held <= kPackageDataLimit;
}

bool load(int32_t kind, const ByteString* bytes, int scrambled, int& result) {
    FirmwarePackagePtr package(FirmwarePackage_new());
    result = FirmwarePackage_load(kind, package.get(), bytes, scrambled);
    return result == 0 || packageHolds(package.get(), kind == PACKAGE_IMAGE);
}

}  // namespace

bool fuzzImage(const uint8_t* data, size_t size) {
    uint32_t live = ByteString_liveCount();
    bool ok;
    {
        ByteStringPtr plain = bytesOf(data, size);
        ByteStringPtr scrambled(FirmwarePackage_descramble(plain.get()));
        int plainResult = 0;
        int scrambledResult = 0;
        ok = load(PACKAGE_IMAGE, plain.get(), 0, plainResult) &&
             load(PACKAGE_IMAGE, scrambled.get(), 1, scrambledResult) &&
             plainResult == scrambledResult;
    }
    return ok && ByteString_liveCount() == live;
}

bool fuzzInfo(const uint8_t* data, size_t size) {
    uint32_t live = ByteString_liveCount();
    bool ok;
    {
        ByteStringPtr bytes = bytesOf(data, size);
        int result = 0;
        ok = load(PACKAGE_INFO, bytes.get(), 0, result);
    }
    return ok && ByteString_liveCount() == live;
}

bool fuzzInflate(const uint8_t* data, size_t size) {
    uint32_t live = ByteString_liveCount();
    bool ok;
    {
        ByteStringPtr block = bytesOf(data, size);
        ByteStringPtr out(PackageSection_inflate(block.get()));
        ok = out != nullptr && terminated(out.get()) &&
             (block->length >= kInflatePrefixLength || out->length == 0) &&
             out->capacity <= kPackageDataLimit;
    }
    return ok && ByteString_liveCount() == live;
}

bool fuzzRechecksum(const uint8_t* data, size_t size) {
    uint32_t live = ByteString_liveCount();
    bool ok = true;
    {
        ByteStringPtr input = bytesOf(data, size);
        ByteStringPtr out(RechecksumTo256(input.get()));
        // Every data byte of the whole 2048 + 2 blocks and of a partial last block is kept, in
        // 256 + 2 blocks; only a whole block whose sum differs makes the result null.
        const int64_t n = input->length;
        const int64_t whole = n / 2050;
        const int64_t m = n <= 3 ? 0 : 2048 * whole + std::max<int64_t>(n % 2050 - 2, 0);
        bool sumsMatch = true;
        for (int64_t b = 0; n > 3 && b < whole; ++b) {
            const uint8_t* block = input->data + b * 2050;
            uint32_t sum = 0;
            for (int i = 0; i < 2048; ++i) sum += block[i];
            sumsMatch =
                sumsMatch && block[2048] == (sum & 0xFF) && block[2049] == ((sum >> 8) & 0xFF);
        }
        if (!sumsMatch) {
            ok = out == nullptr;
        } else {
            ok =
                out != nullptr && out->length == m + 2 * ((m + 255) / 256) && terminated(out.get());
        }
    }
    return ok && ByteString_liveCount() == live;
}

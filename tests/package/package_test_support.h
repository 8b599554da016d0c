// Shared by the package tests: byte conversions and a one-line summary of a loaded record.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/byte_string.h"
#include "package/firmware_package.h"
#include "package/package_records.h"
#include "packwriter/package_writer.h"

namespace packagetest {

using packwriter::Bytes;

inline ByteStringPtr toByteString(const Bytes& bytes) {
    ByteStringPtr s(ByteString_create(static_cast<int32_t>(bytes.size())));
    ByteString_appendBytes(s.get(), bytes.data(), static_cast<int32_t>(bytes.size()));
    return s;
}

inline Bytes toBytes(const ByteString* s) {
    return s == nullptr ? Bytes{} : Bytes(s->data, s->data + s->length);
}

inline std::string str(const ByteString* s) {
    return ByteString_str(s);
}

// The record in one line: texts, boots (name@hex address), firmware (name/build/value2),
// files (name/target/kind/start/erase/version1/version2/trailer), each with its section
// ({name/compressed/external/external name/data}), and the name index.
inline std::string summary(const FirmwarePackage* p) {
    std::string s = "fsn=" + str(p->fsn) + " fln=" + str(p->fln) + " des=" + str(p->des);
    auto numbers = [&s](auto... n) { ((s += "/" + std::to_string(n)), ...); };
    auto section = [&s](const PackageSection* c) {
        if (c == nullptr) return;
        s += "{" + str(c->name) + "/" + std::to_string(c->compressed) + "/" +
             std::to_string(c->external) + "/" + str(c->externalName) + "/" + str(c->data) + "}";
    };
    for (const PackageBoot* b : p->boot) {
        char address[16];
        if (b == nullptr) continue;
        std::snprintf(address, sizeof address, "%X", b->address);
        s += " boot=" + str(b->name) + "@" + address;
        section(b->section);
    }
    if (p->firmware != nullptr) {
        s += " fw=" + str(p->firmware->name);
        numbers(p->firmware->build, p->firmware->value2);
        section(p->firmware->section);
    }
    for (int i = 0; i < kPackageFileSlots && p->files[i] != nullptr; ++i) {
        const PackageFile* f = p->files[i];
        s += " " + str(f->name) + "/" + str(f->target);
        numbers(f->memoryKind, f->start, f->eraseCount, f->version1, f->version2,
                f->checksumTrailer);
        section(f->section);
    }
    return s + " names=" + str(p->nameList);
}

}  // namespace packagetest

// Allocation and owning handles for the sub-records of a package, so that a reader that
// gives up half way through a record releases what it built so far.
#pragma once

#include <cstdlib>
#include <memory>

#include "package/firmware_package.h"

template <typename Record>
Record* PackageRecord_new() {
    auto* r = static_cast<Record*>(std::calloc(1, sizeof(Record)));
    if (r == nullptr) std::abort();
    return r;
}

template <typename Record, void (*Free)(Record*)>
struct PackageRecordDeleter {
    void operator()(Record* r) const { Free(r); }
};

using PackageSectionPtr =
    std::unique_ptr<PackageSection, PackageRecordDeleter<PackageSection, PackageSection_free>>;
using PackageBootPtr =
    std::unique_ptr<PackageBoot, PackageRecordDeleter<PackageBoot, PackageBoot_free>>;
using PackageFirmwarePtr =
    std::unique_ptr<PackageFirmware, PackageRecordDeleter<PackageFirmware, PackageFirmware_free>>;
using PackageFilePtr =
    std::unique_ptr<PackageFile, PackageRecordDeleter<PackageFile, PackageFile_free>>;

// The two bootloader images that ship inside the updater ("Enc_QNv3HIDBootloader_0" and
// "_1"). They are written to the tool as they are; the updater never looks into them.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteString;

struct BootloaderResource {
    const char* name;
    const uint8_t* bytes;
    size_t size;
};

// Built into the library from the generated source.
extern const BootloaderResource kBootloaderResources[];
extern const int kBootloaderResourceCount;

// The image's bytes; empty (never null) when no image of that name was shipped.
ByteString* BootloaderResource_load(const char* name);

#include "workflows/bootloader_resources.h"

#include <cstring>

#include "core/byte_string.h"

ByteString* BootloaderResource_load(const char* name) {
    ByteString* image = ByteString_create(0);
    for (int i = 0; i < kBootloaderResourceCount; ++i) {
        const BootloaderResource& resource = kBootloaderResources[i];
        if (std::strcmp(resource.name, name) == 0) {
            ByteString_appendBytes(image, resource.bytes, static_cast<int32_t>(resource.size));
            break;
        }
    }
    return image;
}

#include "server/request_scrambler.h"

#include <cstdio>

#include "core/byte_string.h"
#include "core/pad_tables.h"

namespace {

int64_t floorRemainder(int64_t value, int64_t divisor) {
    int64_t r = value % divisor;
    return r < 0 ? r + divisor : r;
}

}  // namespace

int32_t RequestScrambler_step(int32_t key) {
    return static_cast<int32_t>(floorRemainder(key, 2047) + 1);
}

int32_t RequestScrambler_index(int64_t r) {
    return static_cast<int32_t>(floorRemainder(r, 2048));
}

ByteString* RequestScrambler_encode(const ByteString* request, int32_t key,
                                    const RequestTraceFn& trace) {
    static const char kHex[] = "0123456789ABCDEF";
    ByteString* encoded = ByteString_create(5000);
    int32_t step = RequestScrambler_step(key);
    int64_t r = key;
    for (int32_t i = 0; i < request->length; ++i) {
        int32_t index = RequestScrambler_index(r);
        uint8_t byte = request->data[i];
        uint8_t pad = requestPadTable[static_cast<size_t>(index)];
        uint8_t out = byte ^ pad;
        ByteString_appendByte(encoded, '%');
        ByteString_appendByte(encoded, static_cast<uint8_t>(kHex[out >> 4]));
        ByteString_appendByte(encoded, static_cast<uint8_t>(kHex[out & 0xF]));
        if (trace) {
            char line[24];
            int n = std::snprintf(line, sizeof line, "%u %u %u\n", unsigned{byte}, unsigned{pad},
                                  unsigned{out});
            trace(std::string_view(line, static_cast<size_t>(n)));
        }
        r = index + step;
    }
    return encoded;
}

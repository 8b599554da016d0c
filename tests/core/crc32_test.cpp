#include "core/crc32.h"

#include <gtest/gtest.h>

#include "core/byte_string.h"

TEST(Crc32, StandardCheckValues) {
    EXPECT_EQ(checksumCrc32(makeByteString("123456789").get()), 0xCBF43926u);
    EXPECT_EQ(checksumCrc32(makeByteString("").get()), 0u);
    EXPECT_EQ(checksumCrc32(nullptr), 0u);
}

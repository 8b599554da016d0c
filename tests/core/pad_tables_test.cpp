#include "core/pad_tables.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// Values computed apart from this code; the server and the packages depend on them.
TEST(PadTables, MatchTheDeploymentValues) {
    EXPECT_EQ(requestPadTable[0], 0xE1);
    EXPECT_EQ(requestPadTable[1], 0x8B);
    EXPECT_EQ(requestPadTable[2047], 0x86);
    EXPECT_EQ(packagePadTable[0], 0x51);
    EXPECT_EQ(packagePadTable[1], 0xE0);
    EXPECT_EQ(packagePadTable[2047], 0x3D);
    std::set<int> seen;  // the package step visits every entry
    int k = packagePadStart;
    for (int i = 0; i < 2048; ++i, k = (k + packagePadStep) % 2048) seen.insert(k);
    EXPECT_EQ(seen.size(), 2048u);
}

}  // namespace

// Linked into every test program: each test leaves as many byte strings alive as it found,
// its fixture's members included.
#include <gtest/gtest.h>

#include "core/byte_string.h"

namespace {

class ByteStringLeakCheck : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { live_ = ByteString_liveCount(); }
    // Runs after the fixture is destroyed, and still counts as part of the test.
    void OnTestEnd(const ::testing::TestInfo&) override {
        EXPECT_EQ(ByteString_liveCount(), live_) << "byte strings left alive";
    }
    uint32_t live_ = 0;
};

[[maybe_unused]] const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new ByteStringLeakCheck);
    return true;
}();

}  // namespace

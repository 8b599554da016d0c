// A fake sysfs tree of its own for each test, and none of the environment's tool or port
// settings, so that the command line finds exactly the tools the test attaches.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "toolsim/fake_sysfs.h"

class SysfsTreeTest : public ::testing::Test {
  protected:
    static std::string makeRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zarvik-sysfs-XXXXXX").string();
        return mkdtemp(pattern.data()) != nullptr ? pattern : "";
    }
    void SetUp() override {
        ASSERT_FALSE(root_.empty());
        ::unsetenv("ZARVIK_PORT");
        ::unsetenv("ZARVIK_TOOL");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    std::string root_ = makeRoot();
    FakeSysfs tree{root_};
};

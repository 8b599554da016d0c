// Shared set-up of the link tests: a virtual tool on a real pseudo-terminal, a link that
// reaches it through the tool's published path, and short timings.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/byte_string.h"
#include "link/tool_link.h"
#include "toolsim/virtual_tool.h"

using Bytes = std::vector<uint8_t>;

std::string hexText(const Bytes& bytes);  // "3B 01 02"
Bytes bytesOf(const ByteString* s);
ByteStringPtr byteString(const Bytes& bytes);
Bytes pattern(size_t n, uint8_t seed = 1);
int openDescriptorCount();
uint32_t frameAddress(const Bytes& frame);  // the 24-bit address of a tool frame

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // With a USB serial the tool is also shown in a fake sysfs tree under dir_/fake and
    // comes back from each reboot under a new node.
    void startTool(const ToolState& state = ToolState_default(), const std::string& usbSerial = "");
    // A found and opened link to the tool; the frames it sent so far are forgotten.
    ToolLink* connect();
    LinkSettings settings() const;
    std::string linkPath() const { return dir_ + "/ktx2"; }
    Bytes frame(size_t index) const;
    // For tests that wait out time-outs on purpose: T 500 lasts half a second.
    void shortTimeouts() { link_->settings.timing.exchangeUnit = std::chrono::milliseconds(1); }
    size_t frameCount() const { return tool_.frames().size(); }

    std::string dir_;
    VirtualTool tool_;
    ToolLinkPtr link_;
};

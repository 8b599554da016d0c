// The USB guest's cases share one bench: the bench server on the guest's loopback, the paths
// of the build under test, the table, and what a clean update left in the tool for the
// recoveries to be compared with.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "guest/case_table.h"
#include "guest/guest_bench.h"
#include "guest/guest_process.h"

struct UsbGuest {
    std::string build;  // the build under test (the sanitizer build)
    std::string cli;    // its zarvik-cli, or the one --cli named
    std::string work;   // kept on the host for a look after a miss
    GuestTiming timing;
    BenchServer server;
    CaseTable table;
    std::string serverFailure;  // why the bench server is missing, when it is
    // A clean update's time and what it left in the tool, once one ran.
    double cleanSeconds = 60;
    std::string cleanMemory;
    std::string cleanFind;  // a clean find's output
    CaseSelection selection;
};

// The one bench of this program's run (set up by main).
UsbGuest& usbGuest();

inline constexpr const char* kToolSerial = "KTX2-0001";

// zarvik-toolsim as the tool `name` on `udc`, with its memory written at exit to memory-NAME.
std::vector<std::string> UsbGuest_toolCommand(const UsbGuest& guest, const std::string& name,
                                              const std::string& udc, const std::string& serial,
                                              const std::vector<std::string>& extra = {},
                                              const std::string& state = "");
// The tool plugged in on dummy_udc.0 as KTX2-0001; a failed plug fails the test.
PluggedTool UsbGuest_plug(UsbGuest& guest, const std::vector<std::string>& extra = {},
                          const std::string& name = "ktx2", const std::string& udc = "dummy_udc.0",
                          const std::string& serial = kToolSerial);
// zarvik-cli with the bench server's settings; `prefix` runs it as another user.
CommandRun UsbGuest_cli(UsbGuest& guest, const std::vector<std::string>& arguments,
                        int limitSeconds = 300, const std::vector<std::string>& prefix = {});
// What the tool `name` held when it was last stopped.
std::string UsbGuest_memory(const UsbGuest& guest, const std::string& name = "ktx2");
// Runs a clean whole update, unless one ran already, for its time and memory.
void UsbGuest_needCleanUpdate(UsbGuest& guest);

// Each case needs the bench server; without it the case is a miss that says why.
class UsbCase : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!usbGuest().serverFailure.empty()) GTEST_FAIL() << usbGuest().serverFailure;
    }
    UsbGuest& guest() { return usbGuest(); }
    // A fault planted in this case's set-up (--plant NAME), to see its row fail.
    bool planted(const std::string& plant) {
        return CaseSelection_planted(guest().selection, plant);
    }
    bool row(const std::string& name, const std::string& happened, const std::string& expected,
             bool ok, double seconds) {
        return CaseTable_row(guest().table, name, happened, expected, ok, seconds);
    }
};

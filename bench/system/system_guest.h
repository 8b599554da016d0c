// The installed-system guest's cases share one bench: root plugs the virtual tool in as a USB
// gadget, installs and removes the package and looks at what udev, logind and ModemManager
// did; everything the updater does runs as the desktop user inside his own login session,
// through the agent his login shell started (user_agent.sh).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "guest/case_table.h"
#include "guest/guest_bench.h"
#include "guest/guest_process.h"

struct SystemGuest {
    std::string project;  // shared read-only by the host
    std::string bin;      // the bench programs, built on the guest's release
    std::string debs;     // the folder with the package to install, maybe another release's
    std::string out = "/run/zarvik-out";
    std::string check = "/run/zarvik-check";  // the agent's requests and answers
    std::string work = "/var/tmp/zarvik-check";
    std::string user = "desk";
    std::string home = "/home/desk";
    std::string rule = "/usr/lib/udev/rules.d/70-zarvik-ktx2.rules";
    GuestTiming timing;
    BenchServer server;
    CaseTable table;
    int requests = 0;  // the agent's requests so far
    bool installed = false;
    CaseSelection selection;  // faults planted in the set-up, from the host
};

SystemGuest& systemGuest();

// A script run by the desktop user in his session, with the bench server's settings.
CommandRun UserSession_run(SystemGuest& guest, const std::string& script, int limitSeconds);

// The tool plugged in afresh, with udev's rules run on its node.
PluggedTool SystemGuest_plug(SystemGuest& guest, const std::vector<std::string>& faults = {},
                             const std::string& state = "",
                             const std::string& serial = "KTX2-0001");
ToolReport SystemGuest_unplug(SystemGuest& guest, PluggedTool& tool);

// The desktop user's ACL entry on a node ("user:desk:rw-"), "" for none.
std::string SystemGuest_userAcl(const SystemGuest& guest, const std::string& node);
// ID_MM_DEVICE_IGNORE=... as udev's database holds it for the node, "" for none.
std::string SystemGuest_mmIgnore(const std::string& node);

// logind's locks held by the updater, seen every moment while it watches.
class InhibitorWatch {
  public:
    InhibitorWatch();
    ~InhibitorWatch();
    InhibitorWatch(const InhibitorWatch&) = delete;
    InhibitorWatch& operator=(const InhibitorWatch&) = delete;
    // Each zarvik lock line seen, and how many looks saw one.
    std::string seen() const;
    int looksHeld() const;

  private:
    mutable std::mutex mutex_;
    std::string seen_;
    int looksHeld_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
std::string Inhibitors_now();  // the updater's locks held now, "" for none

// ModemManager's journal since a mark.
struct ModemLog {
    std::string since;
};
ModemLog ModemLog_mark();
std::string ModemLog_read(const ModemLog& mark);
std::string Modems_listed();  // mmcli -L's first line

class SystemCase : public ::testing::Test {
  protected:
    SystemGuest& guest() { return systemGuest(); }
    // A fault planted in this case's set-up, to see its row fail.
    bool planted(const std::string& plant) {
        return CaseSelection_planted(guest().selection, plant);
    }
    bool row(const std::string& name, const std::string& happened, const std::string& expected,
             bool ok, double seconds = -1) {
        return CaseTable_row(guest().table, name, happened, expected, ok, seconds);
    }
    void shown(const std::string& name, const std::string& happened) {
        CaseTable_shown(guest().table, name, happened);
    }
};

// A case that needs the package installed.
class InstalledCase : public SystemCase {
  protected:
    void SetUp() override {
        if (!guest().installed) GTEST_FAIL() << "the package is not installed";
    }
};

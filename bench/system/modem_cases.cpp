// ModemManager and the tool: left alone with the package's rule and by Debian's own strict
// policy, and, where it is told to probe the tool as its old default policy did, what the user
// is told and that the updater finds the tool once ModemManager lets go.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include "system/system_cases.h"

namespace {

using namespace std::chrono_literals;

// ModemManager told to probe the tool: what every ModemManager up to 1.16 did, by its default
// filter policy, with any AT-capable cdc_acm port.
constexpr const char* kProbed = "s/ENV{ID_MM_DEVICE_IGNORE}=\"1\"/ENV{ID_MM_DEVICE_PROCESS}=\"1\"/";

// The package's rule with its ModemManager part changed by `sed`, in /etc, where it replaces
// the package's; empty: the package's own again.
void ruleWith(const SystemGuest& guest, const std::string& sed) {
    const std::string local = "/etc/udev/rules.d/70-zarvik-ktx2.rules";
    if (sed.empty()) {
        Shell_run("rm -f " + local);
    } else {
        Shell_run("grep -v '^#' " + guest.rule + " | sed '" + sed + "' >" + local);
    }
    Shell_run("udevadm control --reload");
}

// ModemManager's journal line as it opens the tool's port to probe it.
const std::regex kOpening(R"(ttyACM[0-9]*/at\] opening serial port)");

struct FreshFind {
    CommandRun find;
    ToolReport tool;
    bool modemManagerUp = false;
};

// The tool plugged in afresh, ModemManager given `settle` to look at it, then the user's find.
FreshFind freshFind(SystemGuest& guest, std::chrono::seconds settle) {
    FreshFind result;
    PluggedTool tool = SystemGuest_plug(guest);
    std::this_thread::sleep_for(settle);
    result.modemManagerUp = Shell_line("systemctl is-active ModemManager") == "active";
    result.find = UserSession_run(guest, "zarvik-cli find", 60);
    result.tool = SystemGuest_unplug(guest, tool);
    return result;
}

std::string described(const FreshFind& f) {
    return "find exit " + std::to_string(f.find.status) + ", " + std::to_string(f.tool.frames) +
           " frames, " + std::to_string(f.tool.strayBytes) + " stray bytes" +
           (f.modemManagerUp ? "" : ", MM not running");
}

// Found by the user while ModemManager was up, and nothing but frames reached the tool.
bool leftAlone(const FreshFind& f) {
    return f.modemManagerUp && f.find.status == 0 && f.tool.frames > 0 && f.tool.strayBytes == 0;
}

}  // namespace

void ModemManagerWithTheRule::TestBody() {
    const auto start = std::chrono::steady_clock::now();
    if (planted("probe-with-rule")) ruleWith(guest(), kProbed);
    const ModemLog mark = ModemLog_mark();
    const FreshFind f = freshFind(guest(), 20s);
    if (planted("probe-with-rule")) ruleWith(guest(), "");
    row("4 with the rule: MM leaves the tool alone", described(f), "exit 0, 0 stray bytes",
        leftAlone(f), Seconds_since(start));
    // ModemManager's own word: no modem, and its journal never shows it opening the port (a
    // tool that is no modem is never listed, whether probed or not).
    const std::string modems = Modems_listed();
    const bool opened = std::regex_search(ModemLog_read(mark), kOpening);
    row("  mmcli -L, MM's journal",
        modems + (opened ? "; MM opened the port" : "; port never opened"),
        "No modems were found; never opened", Text_holds(modems, "No modems") && !opened);
}

// Without the rule's ModemManager part, Debian's ModemManager (filter policy strict) still
// leaves a lone cdc_acm port alone; its log says why.
void ModemManagerStrictWithoutTheRulesPart::TestBody() {
    const auto start = std::chrono::steady_clock::now();
    ruleWith(guest(), "s/, ENV{ID_MM_DEVICE_IGNORE}=\"1\"//");
    const ModemLog mark = ModemLog_mark();
    if (planted("mm-stopped")) Shell_run("systemctl stop ModemManager");
    const FreshFind f = freshFind(guest(), 20s);
    if (planted("mm-stopped")) Shell_run("systemctl start ModemManager; sleep 5");
    static const std::regex why(
        R"(ttyACM[0-9]*\) port filtered: [a-z -]*|port ttyACM[0-9]* [a-z ]*probing[a-z ]*)");
    std::smatch m;
    const std::string log = ModemLog_read(mark);
    row("  no MM part, Debian's MM (strict)",
        described(f) + "; MM: " + (std::regex_search(log, m, why) ? m.str() : "nothing logged"),
        "exit 0, 0 stray bytes", leftAlone(f), Seconds_since(start));
}

// A ModemManager that probes the tool (as its default policy up to 1.16 probed every
// AT-capable cdc_acm port): what the rule keeps away.
void ModemManagerToldToProbe::TestBody() {
    const auto start = std::chrono::steady_clock::now();
    ruleWith(guest(), planted("no-probe") ? "" : kProbed);
    const ModemLog mark = ModemLog_mark();
    PluggedTool tool = SystemGuest_plug(guest());
    // Planted: a program that holds the port for itself and never lets go.
    const int held = planted("held-throughout")
                         ? ::open(tool.node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)
                         : -1;
    if (held >= 0) ::ioctl(held, TIOCEXCL);
    // The user starts the updater while ModemManager probes, as one who plugs the tool in and
    // starts at once would.
    for (int i = 0; i < 300 && !std::regex_search(ModemLog_read(mark), kOpening); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    const CommandRun tries = UserSession_run(
        guest(),
        "for i in $(seq 60); do out=$(zarvik-cli find 2>&1); s=$?; [ $s = 0 ] && echo \"$i: "
        "found\" && break; echo \"$i: $out\" | tail -1; sleep 1; done",
        150);
    if (held >= 0) ::close(held);
    std::this_thread::sleep_for(3s);
    const std::string modems = Modems_listed();
    const ToolReport report = SystemGuest_unplug(guest(), tool);
    std::string busy;
    for (const std::string& line : Text_lines(tries.out)) {
        if (busy.empty() && Text_holds(line, "in use")) busy = line;
    }
    row("  MM told to probe it (as MM <= 1.16)",
        std::to_string(report.strayBytes) + " stray bytes \"" + report.stray + "\"",
        "MM writes to the tool", report.strayBytes > 0, Seconds_since(start));
    row("  what the user is told", busy.empty() ? "never busy" : busy,
        "names ModemManager, what to do",
        Text_holds(busy, "ModemManager") && Text_holds(busy, "udevadm control --reload"));
    const std::string last = Text_lastLine(tries.out);
    row("  once MM lets go", last + "; mmcli -L: " + modems, "found, no modem",
        Text_holds(last, "found") && Text_holds(modems, "No modems"));

    const auto again = std::chrono::steady_clock::now();
    ruleWith(guest(), planted("rule-not-back") ? kProbed : "");
    const FreshFind f = freshFind(guest(), 20s);
    if (planted("rule-not-back")) ruleWith(guest(), "");
    row("  rule back, plugged in again", described(f), "exit 0, 0 stray bytes", leftAlone(f),
        Seconds_since(again));
}

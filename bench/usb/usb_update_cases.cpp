// The updater against the real USB stack: found and identified through cdc_acm, a whole
// update whose every reboot is a real disconnect and enumeration, the cable pulled at each
// point of an update and the tool recovered, and tools that show themselves in other ways.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "guest/usb_nodes.h"
#include "usb/usb_guest.h"

namespace {

std::string joined(const std::vector<std::string>& words, const char* between = " ") {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : between) + w;
    return text;
}

// The nodes a link trace shows the updater opening, in order, each once, and how many opens.
std::vector<std::string> openedNodes(const std::string& trace, int* opens = nullptr) {
    static const std::regex opened(R"( open (/dev/ttyACM\d+): ok)");
    std::vector<std::string> nodes;
    const std::string text = File_read(trace);
    if (opens != nullptr) *opens = 0;
    for (auto m = std::sregex_iterator(text.begin(), text.end(), opened);
         m != std::sregex_iterator(); ++m) {
        if (opens != nullptr) ++*opens;
        if (std::ranges::find(nodes, (*m)[1].str()) == nodes.end()) nodes.push_back((*m)[1]);
    }
    return nodes;
}

int linesSaying(const std::string& text, const std::string& line) {
    int count = 0;
    for (const std::string& l : Text_lines(text)) count += l == line ? 1 : 0;
    return count;
}

}  // namespace

TEST_F(UsbCase, PortsAndFind) {
    // Planted: a tool that never tells its bootloader version.
    PluggedTool tool =
        UsbGuest_plug(guest(), planted("find") ? std::vector<std::string>{"--silent", "2"}
                                               : std::vector<std::string>{});
    const CommandRun ports = UsbGuest_cli(guest(), {"ports"}, 60);
    const bool listed = Text_holds(ports.out, kToolSerial) && Text_holds(ports.out, "04d8:f32b") &&
                        Text_holds(ports.out, tool.node);
    row("ports lists the gadget (04d8:f32b, serial)",
        std::string("listed: ") + (listed ? "yes" : "no") + ", " + tool.node, "listed: yes", listed,
        ports.seconds);
    const CommandRun find = UsbGuest_cli(guest(), {"find"}, 60);
    const ToolReport report = PluggedTool_unplug(tool, guest().timing);
    row("find identifies it",
        CommandRun_summary(find) + ", tool got " + std::to_string(report.frames),
        "exit 0, frames to the tool", find.status == 0 && report.frames > 0, find.seconds);
    if (find.status == 0) guest().cleanFind = find.out;
}

TEST_F(UsbCase, WholeUpdate) {
    PluggedTool tool = UsbGuest_plug(guest());
    // Planted: a tool that cannot write down its memory (the comparisons would have nothing).
    const std::string memoryFile = guest().work + "/memory-ktx2";
    if (planted("memory")) std::filesystem::create_directories(memoryFile + "/in-the-way");
    const std::string trace = guest().work + "/update.trace";
    const CommandRun run =
        UsbGuest_cli(guest(), {"--yes", "--trace-link", trace, "program", "--firmware", "900"});
    const ToolReport report = PluggedTool_unplug(tool, guest().timing);
    if (planted("memory")) std::filesystem::remove_all(memoryFile);
    int opens = 0;
    const std::vector<std::string> nodes = openedNodes(trace, &opens);
    // Each reboot a real departure: the tool is opened again after both.
    const bool ok = run.status == 0 && Text_holds(run.out, "Updated Successfully") && opens >= 3 &&
                    report.status == 0 && !UsbGuest_memory(guest()).empty();
    row("whole update, both bootloaders",
        "exit " + std::to_string(run.status) + ", " + std::to_string(opens) + " opens of " +
            joined(nodes) + ", tool exit " + std::to_string(report.status),
        "exit 0, success", ok, run.seconds);
    if (ok) {
        guest().cleanSeconds = run.seconds;
        guest().cleanMemory = UsbGuest_memory(guest());
    }
}

// The cable pulled at each point, then power, find and a whole update again.
struct CutCase {
    const char* point;
    int slack;  // seconds the fault may cost beyond a clean update
    const char* message;
    const char* tag;  // the report sent; "-": any; "": none, the run succeeds
    const char* command;
};

class CablePull : public UsbCase, public ::testing::WithParamInterface<CutCase> {};

TEST_P(CablePull, ThenPowerFindProgram) {
    const CutCase& c = GetParam();
    UsbGuest_needCleanUpdate(guest());
    // Planted: a cable never pulled; where a pull should still end well, one pulled early.
    std::vector<std::string> pull{"--cut", c.point};
    if (planted("no-cut")) {
        pull = std::string(c.tag).empty() ? std::vector<std::string>{"--cut", "firmware:start"}
                                          : std::vector<std::string>{};
    }
    PluggedTool tool = UsbGuest_plug(guest(), pull);
    const int before = BenchServer_requestCount(guest().server);
    const std::string command = c.command;
    const CommandRun cut =
        command == "program" ? UsbGuest_cli(guest(), {"--yes", "program", "--firmware", "900"}, 120)
                             : UsbGuest_cli(guest(), {"--yes", command}, 120);
    const std::vector<std::string> tags = BenchServer_reportsSince(guest().server, before);
    const std::string tag = c.tag;
    const bool said = Text_holds(cut.out, c.message);
    bool ok = tag.empty() ? cut.status == 0 && said
                          : cut.status != 0 && said &&
                                (tag == "-" || std::ranges::find(tags, tag) != tags.end());
    // Never after a time-out: at most a clean update's time and what the fault may cost.
    ok = ok && cut.seconds <= guest().cleanSeconds + c.slack + 5;
    row(std::string("cable pull at ") + c.point,
        "exit " + std::to_string(cut.status) + ", " + (tags.empty() ? "no report" : joined(tags)),
        std::string(c.message).substr(0, 28) + ", " + tag, ok, cut.seconds);

    // Planted: the recovery compared with what another release leaves.
    if (planted("other-clean")) guest().cleanMemory += "x";
    const bool back = PluggedTool_powerCycle(tool, guest().timing);
    const CommandRun find = UsbGuest_cli(guest(), {"find"}, 60);
    const CommandRun update = UsbGuest_cli(guest(), {"--yes", "program", "--firmware", "900"});
    const ToolReport report = PluggedTool_unplug(tool, guest().timing);
    const std::string memory = UsbGuest_memory(guest());
    const bool same = !memory.empty() && memory == guest().cleanMemory;
    row("  then power, find, program",
        std::string(back ? "" : "not back, ") + "find " + std::to_string(find.status) +
            ", program " + std::to_string(update.status) + ", memory " +
            (same ? "same" : "differs"),
        "exit 0, memory as a clean update's",
        back && find.status == 0 && update.status == 0 && report.status == 0 && same,
        update.seconds);
}

std::string cutName(const ::testing::TestParamInfo<CutCase>& info) {
    std::string name = info.param.point;
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    }
    return name;
}

constexpr const char* kFirmwareFailed = "Writing Firmware V3.01.02 Failed";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cuts, CablePull, ::testing::Values(
    CutCase{"boot0:5", 11, "Writing Bootloader 0 Failed", "_Failed_BL0", "program"},
    CutCase{"boot1:last", 11, "Writing Bootloader 1 Failed", "_Failed_BL1", "program"},
    CutCase{"reboot:start", 11, "Writing Bootloader 0 Failed", "_Failed_BL0", "program"},
    CutCase{"firmware:start", 5, kFirmwareFailed, "_Failed_FIRM", "program"},
    CutCase{"firmware:341", 5, kFirmwareFailed, "_Failed_FIRM", "program"},
    CutCase{"firmware:last", 5, kFirmwareFailed, "_Failed_FIRM", "program"},
    CutCase{"erase:start", 50, "Erase 4 Failed", "_Failed_MemErase_Block_40", "program"},
    CutCase{"memory:start", 5, "Memory 2 Not Programmed Correctly", "_Failed_Mem_Block_9000", "program"},
    CutCase{"extra:start", 5, "Extra File 1 Not Programmed Correctly", "_Failed_Custom_Mem_1", "program"},
    CutCase{"directory:start", 5, "Extra File 0 Not Programmed Correctly", "_Failed_Custom_Mem_0", "program"},
    CutCase{"bluetooth:start", 5, "Bluetooth Smart Module Update Failed", "_Failed_BLE_Update_2", "program"},
    CutCase{"completion:start", 5, "KTX2 Firmware Updated Successfully", "", "program"},
    CutCase{"backup-read:1", 5, "File upload failed", "-", "upload-backups"}), cutName);
// clang-format on

// A bootloader that restarts by itself before its last record is acknowledged: a tool at 1.23
// given the legacy release (bootloader 1.16) gets the bridge image, after which it restarts by
// itself; and the whole update, whose second bootloader does the same.
TEST_F(UsbCase, SelfRestartUnacknowledged) {
    nlohmann::json state =
        nlohmann::json::parse(File_read(guest().work + "/demo-tool.json"), nullptr, false);
    state["bootSlots"] = {"1.23", "1.23"};
    const std::string bridgeState = guest().work + "/tool-123.json";
    File_write(bridgeState, state.dump());
    // Planted: the last record of the image refused, so that it is written again.
    std::vector<std::string> options{"--self-restart-unanswered"};
    if (planted("refuse-boot")) options.insert(options.end(), {"--refuse-at", "boot1:last"});
    PluggedTool tool;
    PluggedTool_plug(
        tool,
        UsbGuest_toolCommand(guest(), "ktx2", "dummy_udc.0", kToolSerial, options, bridgeState),
        kToolSerial, guest().work + "/tool-ktx2.log", guest().timing);
    CommandRun run = UsbGuest_cli(guest(), {"--yes", "program", "--firmware", "700"});
    ToolReport report = PluggedTool_unplug(tool, guest().timing);
    int writes = linesSaying(run.out, "Writing Bootloader 1");
    row("self-restart unacknowledged: bridge image",
        "exit " + std::to_string(run.status) + ", written " + std::to_string(writes) + " times",
        "exit 0, written once", run.status == 0 && report.status == 0 && writes == 1, run.seconds);

    // Planted: the second bootloader's last record refused likewise.
    tool = UsbGuest_plug(guest(), options);
    run = UsbGuest_cli(guest(), {"--yes", "program", "--firmware", "900"});
    report = PluggedTool_unplug(tool, guest().timing);
    writes =
        linesSaying(run.out, "Writing Bootloader 0") + linesSaying(run.out, "Writing Bootloader 1");
    row("self-restart unacknowledged: whole update",
        "exit " + std::to_string(run.status) + ", " + std::to_string(writes) + " bootloader writes",
        "exit 0, 2 writes", run.status == 0 && report.status == 0 && writes == 2, run.seconds);
}

TEST_F(UsbCase, TwoTools) {
    PluggedTool first = UsbGuest_plug(guest());
    PluggedTool second = UsbGuest_plug(guest(), {}, "second", "dummy_udc.1", "KTX2-0002");
    // Planted: the tool not named, as an updater that ignored --tool would do.
    const CommandRun run = UsbGuest_cli(
        guest(), planted("no-tool")
                     ? std::vector<std::string>{"--yes", "program", "--firmware", "900"}
                     : std::vector<std::string>{"--yes", "--tool", "KTX2-0002", "program",
                                                "--firmware", "900"});
    const ToolReport one = PluggedTool_unplug(first, guest().timing);
    const ToolReport two = PluggedTool_unplug(second, guest().timing);
    row("two tools: --tool picks the second",
        "exit " + std::to_string(run.status) + ", first got " + std::to_string(one.frames) +
            " frames, second " + std::to_string(two.frames),
        "exit 0, first got 0 frames",
        run.status == 0 && one.frames == 0 && two.frames > 0 && two.status == 0, run.seconds);
}

// Its bootloader shows another serial, and it offers two ACM functions: the updater talks to
// the first interface's node and follows the tool across the change, as the tool alone.
TEST_F(UsbCase, CompositeToolNewSerialAtReboot) {
    // Planted: one function only, and a serial that stays.
    PluggedTool tool = UsbGuest_plug(
        guest(), planted("plain-tool")
                     ? std::vector<std::string>{}
                     : std::vector<std::string>{"--acm-functions", "2", "--serial-after-reboot",
                                                "KTX2-BOOT"});
    const std::vector<std::string> nodes = UsbNodes_of(kToolSerial);
    const int interfaces = UsbNodes_interfaceCount(kToolSerial);
    const CommandRun find = UsbGuest_cli(guest(), {"find"}, 60);
    const std::string trace = guest().work + "/composite.trace";
    SerialWatch watch;
    const CommandRun run =
        UsbGuest_cli(guest(), {"--yes", "--trace-link", trace, "program", "--firmware", "900"});
    const std::vector<std::string> serials = watch.seen();
    const ToolReport report = PluggedTool_unplug(tool, guest().timing);
    const std::vector<std::string> opened = openedNodes(trace);
    const std::string first = nodes.empty() ? "" : nodes.front();
    row("composite tool (two ACM), new serial at reboot",
        std::to_string(interfaces) + " interfaces, " + std::to_string(nodes.size()) +
            " ttys; find " + std::to_string(find.status) + ", program " +
            std::to_string(run.status) + " on " + (opened.empty() ? "none" : opened.front()) +
            "; serials " + joined(serials, ","),
        "4 interfaces, 2 ttys, exit 0 on the first",
        interfaces == 4 && nodes.size() == 2 && find.status == 0 && run.status == 0 &&
            !opened.empty() && opened.front() == first && report.status == 0 &&
            std::ranges::find(serials, "KTX2-BOOT") != serials.end(),
        run.seconds);
}

TEST_F(UsbCase, SerialChangesAcrossReboot) {
    // Planted: a serial that stays (the tool ignoring what it was asked).
    PluggedTool tool = UsbGuest_plug(
        guest(), planted("plain-tool")
                     ? std::vector<std::string>{}
                     : std::vector<std::string>{"--serial-after-reboot", "KTX2-BOOT"});
    SerialWatch watch;
    const CommandRun run = UsbGuest_cli(guest(), {"--yes", "program", "--firmware", "900"});
    const std::vector<std::string> serials = watch.seen();
    const ToolReport report = PluggedTool_unplug(tool, guest().timing);
    const bool changed = serials == std::vector<std::string>{kToolSerial, "KTX2-BOOT"};
    row("serial changes across a reboot",
        CommandRun_summary(run) + "; serials " + joined(serials, ","),
        "exit 0; KTX2-0001,KTX2-BOOT",
        run.status == 0 && Text_holds(run.out, "Updated Successfully") && changed &&
            report.status == 0,
        run.seconds);
}

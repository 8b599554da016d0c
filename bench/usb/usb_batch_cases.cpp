// Four tools updated at once through cdc_acm, each a gadget on a controller of its own, one
// cable pulled mid-firmware: that tool fails alone, and each other tool holds byte for byte
// what a clean update leaves.
#include <map>
#include <nlohmann/json.hpp>

#include "usb/usb_guest.h"

namespace {

struct BatchMember {
    const char* name;
    const char* udc;
    const char* serial;
    bool pulled;
};

constexpr BatchMember kBatch[] = {{"ktx2", "dummy_udc.0", kToolSerial, false},
                                  {"ktx2-b", "dummy_udc.1", "KTX2-0002", false},
                                  {"ktx2-c", "dummy_udc.2", "KTX2-0003", true},
                                  {"ktx2-d", "dummy_udc.3", "KTX2-0004", false}};

// The batch's summary event: each tool's outcome by its USB serial; empty when it never came.
std::map<std::string, std::string> outcomes(const std::string& out) {
    std::map<std::string, std::string> found;
    for (const std::string& line : Text_lines(out)) {
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (!event.is_object() || event.value("event", "") != "summary") continue;
        for (const nlohmann::json& tool : event.value("tools", nlohmann::json::array())) {
            found[tool.value("serial", "")] = tool.value("outcome", "");
        }
    }
    return found;
}

}  // namespace

TEST_F(UsbCase, FourToolsOneCablePulled) {
    UsbGuest_needCleanUpdate(guest());
    std::vector<PluggedTool> tools;
    for (const BatchMember& m : kBatch) {
        // Planted: every cable pulled, as a batch that let one tool's cut end the others
        // would; or none, so that the pulled tool ends updated.
        const bool pull = !planted("none-pulled") && (m.pulled || planted("all-pulled"));
        tools.push_back(UsbGuest_plug(
            guest(),
            pull ? std::vector<std::string>{"--cut", "firmware:341"} : std::vector<std::string>{},
            m.name, m.udc, m.serial));
    }
    const CommandRun run =
        UsbGuest_cli(guest(), {"--yes", "--json", "program", "--all", "--firmware", "900"}, 1200);
    std::vector<ToolReport> reports;
    for (PluggedTool& tool : tools) reports.push_back(PluggedTool_unplug(tool, guest().timing));
    const std::map<std::string, std::string> said = outcomes(run.out);
    row("four tools at once, one cable pulled",
        "exit " + std::to_string(run.status) + ", " + std::to_string(said.size()) +
            " tools in the summary",
        "exit 1, 4 tools", run.status == 1 && said.size() == 4, run.seconds);
    for (size_t i = 0; i < std::size(kBatch); ++i) {
        const BatchMember& m = kBatch[i];
        const auto outcome = said.find(m.serial);
        const std::string told = outcome == said.end() ? "not in the summary" : outcome->second;
        const std::string memory = UsbGuest_memory(guest(), m.name);
        const bool same = !memory.empty() && memory == guest().cleanMemory;
        if (m.pulled) {
            row(std::string("  ") + m.serial + " (cable pulled)",
                told + ", memory " + (same ? "as a clean update's" : "cut short"),
                "failed, memory cut short", told.starts_with("failed: ") && !same, -1);
        } else {
            row(std::string("  ") + m.serial,
                told + ", memory " + (same ? "as a clean update's" : "differs") + ", tool exit " +
                    std::to_string(reports[i].status),
                "updated, memory as a clean update's",
                told == "updated" && same && reports[i].status == 0, -1);
        }
    }
}

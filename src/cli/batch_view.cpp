#include "cli/batch_view.h"

#include <algorithm>

#include "cli/interrupt_guard.h"
#include "workflows/time_remaining.h"

using nlohmann::json;

namespace {

constexpr int kStepWidth = 44;
constexpr const char* kFirmwareAfter = "Firmware : ";

std::string withoutPrefix(const std::string& text, const std::string& prefix) {
    return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

void emit(BatchView& view, json event) {
    std::fprintf(view.out, "%s\n",
                 event.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
    std::fflush(view.out);
}

// Lines printed above the rows: the rows are drawn again below them.
void say(BatchView& view, const BatchTool& tool, const std::string& text) {
    if (view.mode != BatchMode::lines || text.empty()) return;
    std::fprintf(view.err, "[%s] %s\n", tool.name.c_str(), text.c_str());
    std::fflush(view.err);
}

std::string row(const BatchTool& tool) {
    std::string step = tool.state == BatchToolState::waiting ? "waiting"
                       : tool.state == BatchToolState::done  ? tool.outcome
                                                             : tool.step;
    if (step.size() > kStepWidth) step = step.substr(0, kStepWidth - 3) + "...";
    char text[256];
    std::snprintf(text, sizeof text, "%-16s %-*s", tool.name.c_str(), kStepWidth, step.c_str());
    std::string line = text;
    if (tool.state == BatchToolState::running && tool.progress >= 0) {
        line += " " + std::to_string(tool.progress) + "%";
        if (tool.remainingSeconds >= 0) line += "  " + TimeRemaining_text(tool.remainingSeconds);
    }
    return line;
}

}  // namespace

void BatchView_start(BatchView& view, const std::vector<BatchTool>& tools, int jobs) {
    if (view.mode == BatchMode::json) {
        json names = json::array();
        for (const BatchTool& tool : tools) names.push_back(tool.name);
        emit(view, {{"event", "batchStart"}, {"tools", names}, {"jobs", jobs}});
        return;
    }
    std::fprintf(view.err, "Updating %zu KTX2 tools, %d at a time.\n", tools.size(), jobs);
    std::fflush(view.err);
}

void BatchView_event(BatchView& view, BatchTool& tool, const json& event) {
    if (view.mode == BatchMode::json) {
        json named = event;
        named["serial"] = tool.name;
        emit(view, named);
    }
    const std::string kind = event.value("event", "");
    if (kind == "text") {
        const std::string line = event.value("line", "");
        const std::string text = event.value("text", "");
        if (line == "txtMsg" && !text.empty()) {
            tool.step = text;
            say(view, tool, text);
        } else if (line == "txtStatus") {
            say(view, tool, text);
        } else if (line == "txtFirm" && text.starts_with(kFirmwareAfter)) {
            // Only a finished update shows the firmware it gave.
            tool.after = withoutPrefix(text, kFirmwareAfter);
        }
    } else if (kind == "progress") {
        tool.progress = event.value("value", -1);
        tool.remainingSeconds = event.value("remainingSeconds", -1);
    } else if (kind == "identification") {
        tool.before = withoutPrefix(event.value("firmware", ""), "Current Firmware : ");
    } else if (kind == "messageBox") {
        tool.question = event.value("title", "");
        say(view, tool, event.value("title", "") + ": " + event.value("message", ""));
    } else if (kind == "answer") {
        tool.declined = event.value("answer", "") == "No";
        say(view, tool, "Answer: " + event.value("answer", ""));
    }
}

void BatchView_line(BatchView& view, BatchTool& tool, const std::string& line) {
    if (line.empty()) return;
    tool.lastLine = line;
    if (view.mode == BatchMode::json) {
        emit(view, {{"event", "line"}, {"serial", tool.name}, {"text", line}});
    }
    say(view, tool, line);
}

void BatchView_end(BatchView& view, BatchTool& tool) {
    tool.state = BatchToolState::done;
    if (tool.outcome.empty()) {
        const std::string why = !tool.step.empty() ? tool.step : tool.lastLine;
        if (tool.status == 0) {
            tool.outcome = "updated";
        } else if (tool.status == kInterruptedStatus) {
            tool.outcome = "stopped: " + why;
        } else if (tool.declined) {
            tool.outcome = "declined: " + tool.question;
        } else {
            tool.outcome = "failed: " + why;
        }
    }
    if (view.mode == BatchMode::json) {
        emit(view, {{"event", "toolEnd"},
                    {"serial", tool.name},
                    {"status", tool.status},
                    {"outcome", tool.outcome},
                    {"before", tool.before},
                    {"after", tool.after},
                    {"seconds", tool.seconds}});
    }
    say(view, tool, tool.outcome);
}

void BatchView_draw(BatchView& view, const std::vector<BatchTool>& tools, bool now) {
    if (view.mode != BatchMode::rows) return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - view.lastDraw < std::chrono::milliseconds(200)) return;
    view.lastDraw = time;
    if (view.rowsDrawn > 0) std::fprintf(view.err, "\x1b[%dA", view.rowsDrawn);
    for (const BatchTool& tool : tools) {
        std::fprintf(view.err, "\x1b[2K%s\n", row(tool).c_str());
    }
    view.rowsDrawn = static_cast<int>(tools.size());
    std::fflush(view.err);
}

int BatchView_summary(BatchView& view, const std::vector<BatchTool>& tools, bool stopped) {
    BatchView_draw(view, tools, true);
    const auto updated = std::ranges::count_if(
        tools, [](const BatchTool& t) { return t.status == 0 && t.state == BatchToolState::done; });
    const bool all = updated == static_cast<ptrdiff_t>(tools.size());
    const int status = all ? 0 : stopped ? kInterruptedStatus : 1;
    if (view.mode == BatchMode::json) {
        json rows = json::array();
        for (const BatchTool& t : tools) {
            rows.push_back({{"serial", t.name},
                            {"before", t.before},
                            {"after", t.after},
                            {"outcome", t.outcome},
                            {"seconds", t.seconds}});
        }
        emit(view,
             {{"event", "summary"}, {"tools", rows}, {"updated", updated}, {"status", status}});
        return status;
    }
    std::fprintf(view.out, "%-16s %-40s %8s  %s\n", "TOOL", "FIRMWARE", "SECONDS", "OUTCOME");
    for (const BatchTool& t : tools) {
        const std::string firmware =
            (t.before.empty() ? "?" : t.before) + " -> " + (t.after.empty() ? "-" : t.after);
        std::fprintf(view.out, "%-16s %-40s %8.1f  %s\n", t.name.c_str(), firmware.c_str(),
                     t.seconds, t.outcome.c_str());
    }
    std::fprintf(view.out, "%td of %zu tools updated.\n", updated, tools.size());
    std::fflush(view.out);
    return status;
}

#include "workflows/run_record.h"

#include <cmath>
#include <ctime>
#include <type_traits>

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

// Reads an optional field: false when it is there with the wrong type.
template <typename T>
bool take(const json& object, const char* key, std::optional<T>& into) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return true;
    if constexpr (std::is_same_v<T, std::string>) {
        if (!it->is_string()) return false;
    } else if constexpr (std::is_unsigned_v<T>) {
        if (!it->is_number_unsigned()) return false;
    } else {
        if (!it->is_number_integer()) return false;
    }
    const T value = it->get<T>();
    // A number that does not fit is not this field.
    if constexpr (!std::is_same_v<T, std::string>) {
        if (json(value) != *it) return false;
    }
    into = value;
    return true;
}

template <typename T>
void put(json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

}  // namespace

std::string RunRecord_timeText(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string RunRecord_toLine(const RunRecord& record) {
    json line = {{"time", record.time}, {"workflow", record.workflow}};
    put(line, "serialNumber", record.serialNumber);
    put(line, "hardwareId", record.hardwareId);
    put(line, "firmwareBefore", record.firmwareBefore);
    put(line, "firmwareAfter", record.firmwareAfter);
    put(line, "firmwareId", record.firmwareId);
    line["outcome"] = record.outcome;
    put(line, "reportTag", record.reportTag);
    put(line, "result", record.result);
    put(line, "step", record.step);
    put(line, "filesUploaded", record.filesUploaded);
    put(line, "filesNotUploaded", record.filesNotUploaded);
    line["durationSeconds"] = record.durationSeconds;
    if (record.interrupted) line["interrupted"] = true;
    // Texts from the tool or the server need not be UTF-8: their bytes are replaced rather
    // than the run lost.
    return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<RunRecord> RunRecord_fromLine(std::string_view line) {
    const json object = json::parse(line, nullptr, false);
    if (!object.is_object()) return std::nullopt;
    RunRecord record;
    std::optional<std::string> time, workflow, outcome;
    if (!take(object, "time", time) || !take(object, "workflow", workflow) || !time || !workflow ||
        !take(object, "outcome", outcome) || !take(object, "serialNumber", record.serialNumber) ||
        !take(object, "hardwareId", record.hardwareId) ||
        !take(object, "firmwareBefore", record.firmwareBefore) ||
        !take(object, "firmwareAfter", record.firmwareAfter) ||
        !take(object, "firmwareId", record.firmwareId) ||
        !take(object, "reportTag", record.reportTag) || !take(object, "result", record.result) ||
        !take(object, "step", record.step) ||
        !take(object, "filesUploaded", record.filesUploaded) ||
        !take(object, "filesNotUploaded", record.filesNotUploaded)) {
        return std::nullopt;
    }
    record.time = *time;
    record.workflow = *workflow;
    record.outcome = outcome.value_or("");
    auto duration = object.find("durationSeconds");
    if (duration != object.end()) {
        if (!duration->is_number()) return std::nullopt;
        record.durationSeconds = duration->get<double>();
    }
    auto interrupted = object.find("interrupted");
    if (interrupted != object.end()) {
        if (!interrupted->is_boolean()) return std::nullopt;
        record.interrupted = interrupted->get<bool>();
    }
    return record;
}

HistoryRun HistoryRun_begin(std::string workflow) {
    HistoryRun run;
    run.record.time = RunRecord_timeText(std::chrono::system_clock::now());
    run.record.workflow = std::move(workflow);
    run.started = std::chrono::steady_clock::now();
    return run;
}

void HistoryRun_noteShown(HistoryRun& run, const std::string& text) {
    run.record.outcome = text;
}

void HistoryRun_noteReport(HistoryRun& run, const std::string* tag) {
    if (!run.record.reportTag) run.record.reportTag = "";
    std::string& tags = *run.record.reportTag;
    if (tag == nullptr || tag->empty()) return;
    if (!tags.empty()) tags += ' ';
    tags += *tag;
}

RunRecord HistoryRun_end(HistoryRun& run) {
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - run.started;
    run.record.durationSeconds = std::round(took.count() * 10) / 10;
    return run.record;
}

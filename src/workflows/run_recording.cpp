// The controller's side of the run history: what a run was given, showed and reported.
#include "core/byte_string.h"
#include "core/stop_request.h"
#include "workflows/app_delegate.h"
#include "workflows/unfinished_update.h"
#include "workflows/upload_tally.h"

namespace {

std::optional<std::string> versionOf(const FirmwarePackage* record) {
    if (record == nullptr || record->firmwareVersion == nullptr) return std::nullopt;
    return ByteString_str(record->firmwareVersion);
}

}  // namespace

void AppDelegate::setHistory(std::string path, std::function<void(const std::string&)> onFailure) {
    std::lock_guard lock(historyMutex_);
    history_ = RunHistory{std::move(path)};
    historyFailure_ = std::move(onFailure);
}

void AppDelegate::beginHistory(const char* workflow) {
    const bool update = std::string_view(workflow) == "program";
    // Taken before the lock: the choices have their own.
    const int firmwareId = update ? getFirmwareId() : 0;
    std::lock_guard lock(historyMutex_);
    if (history_.path.empty()) return;
    HistoryRun& run = historyRun_.emplace(HistoryRun_begin(workflow));
    const FirmwarePackage* tool = tool_.get();
    if (tool != nullptr) {
        run.record.serialNumber = tool->serialNumber;
        run.record.hardwareId = tool->hardwareId;
        run.record.firmwareBefore = versionOf(tool);
    }
    if (update) {
        if (firmwareId > 0) run.record.firmwareId = static_cast<uint32_t>(firmwareId);
    } else {
        // Only the update writes firmware.
        run.record.firmwareAfter = run.record.firmwareBefore;
    }
}

void AppDelegate::finishHistory() {
    std::string failure;
    std::function<void(const std::string&)> tell;
    {
        std::lock_guard lock(historyMutex_);
        if (!historyRun_) return;
        RunRecord record = HistoryRun_end(*historyRun_);
        if (StopRequest_requested(linkSettings_.stop)) record.interrupted = true;
        UnfinishedUpdate_mark(record);
        failure = RunHistory_append(history_, record);
        historyRun_.reset();
        tell = historyFailure_;
    }
    if (!failure.empty() && tell) tell(failure);
}

void AppDelegate::recordCutShort(const std::string& why) {
    std::string failure;
    std::function<void(const std::string&)> tell;
    {
        std::lock_guard lock(historyMutex_);
        if (!historyRun_) return;
        // A copy: should the process live on after all, the run's end is recorded too.
        HistoryRun now = *historyRun_;
        HistoryRun_noteShown(now, why);
        RunRecord record = HistoryRun_end(now);
        record.interrupted = true;
        failure = RunHistory_append(history_, record);
        tell = historyFailure_;
    }
    if (!failure.empty() && tell) tell(failure);
}

void AppDelegate::noteShown(const std::string& text) {
    std::lock_guard lock(historyMutex_);
    if (historyRun_) HistoryRun_noteShown(*historyRun_, text);
}

void AppDelegate::noteReport(const std::string* tag) {
    std::lock_guard lock(historyMutex_);
    if (historyRun_) HistoryRun_noteReport(*historyRun_, tag);
}

void AppDelegate::noteFirmwareAfter(const FirmwarePackage* record) {
    std::lock_guard lock(historyMutex_);
    if (historyRun_) historyRun_->record.firmwareAfter = versionOf(record);
}

void AppDelegate::noteUploadedFiles(const UploadTally& tally) {
    std::lock_guard lock(historyMutex_);
    if (!historyRun_) return;
    historyRun_->record.filesUploaded = tally.uploaded;
    historyRun_->record.filesNotUploaded = tally.notUploaded;
}

void AppDelegate::noteUnfinishedStep(const std::string& step) {
    std::lock_guard lock(historyMutex_);
    if (!historyRun_) return;
    UnfinishedUpdate_markStep(historyRun_->record, step);
}

void AppDelegate::tellUnfinishedUpdate(uint32_t serialNumber) {
    std::string path;
    {
        std::lock_guard lock(historyMutex_);
        path = history_.path;
    }
    if (path.empty()) return;
    // Lines it cannot read are passed over; an unreadable file is no unfinished update.
    const std::optional<UnfinishedUpdate> unfinished =
        UnfinishedUpdate_find(RunHistory_read(path), serialNumber);
    if (!unfinished) return;
    const UnfinishedUpdateNote note = UnfinishedUpdate_note(*unfinished, choices());
    if (note.choice) {
        firmwareChoiceChanged(*note.choice);
        ui_.showFirmwareChoices(choices());
    }
    ui_.setText(Line::Status, note.text);
}

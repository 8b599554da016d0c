// The controller: the state the workflows share (link, tool record, session, firmware
// choices, progress, flags) and the workflows themselves. It reaches the user only through
// the UI port, so the window and the command line drive the same logic.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/link_settings.h"
#include "link/progress.h"
#include "link/tool_link.h"
#include "package/firmware_package.h"
#include "server/upload_turn.h"
#include "workflows/firmware_choices.h"
#include "workflows/run_history.h"
#include "workflows/sleep_inhibitor.h"
#include "workflows/updater_ui.h"

struct ServerSession;
struct ProgrammingRun;
struct ExtraArea;
struct sqlite3;
struct UploadTally;

class AppDelegate {
  public:
    AppDelegate(UpdaterUi& ui, ServerSession& session, LinkSettings linkSettings);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Start-up: hides what the tool must earn, checks the updater's own version and offers
    // the download when it is out of date. True when the updater is current.
    bool applicationDidFinishLaunching();
    void downloadBoxResult(int returnCode);
    // The window's start-up and Program: the same sequences on a thread of their own, so that
    // a slow or silent server never stops the window answering. The window takes no input
    // (but Close) until the server has answered; a run that Program's question starts keeps
    // it so until the run ends. Both return at once.
    void startUp();
    void programInBackground();

    // Button actions, called on the main thread.
    void portClicked();
    void programClicked();
    void manualClicked();
    void programMemOnlyClicked();
    void uploadFilesClicked();
    // The user picked another firmware (row of opt2, or item of opt4).
    void firmwareChoiceChanged(int index);

    // The workflows.
    void findDevice();
    void programDevice();
    void executeProgramming();
    void executeMemoryProgramming();
    void executeUploadFile();
    void parseFirmwareIds(const std::string& listText);
    int getFirmwareId();
    std::string getFirmwareName();
    void updateFirmwareDesc();

    // Where the runs that write to the tool or upload are recorded ("" for nowhere), and who
    // hears, once, that the history cannot be written; called on the workflow's thread.
    void setHistory(std::string path, std::function<void(const std::string&)> onFailure);

    // The window offers Find Device again at the end of every failed run, so that a user can
    // retry without restarting; Program waits for a new identification. The command line
    // keeps the buttons as the run left them.
    void setFindAfterFailure(bool offer) { findAfterFailure_ = offer; }

    // Blocks until no workflow thread is running.
    void waitIdle();
    // A run that writes to the tool or uploads from it is under way: closing the updater now
    // can leave the tool unusable.
    bool writingRun() const { return writing_.load() > 0; }
    // The process is about to end under the running run (the session ends and cannot wait):
    // the run is recorded now, as interrupted with `why` as its outcome.
    void recordCutShort(const std::string& why);

    // What the front ends and tests read.
    FirmwareChoices choices();
    // The current tool record; only while no workflow runs.
    const FirmwarePackage* toolRecord() const { return tool_.get(); }
    bool forceFlag() const { return force_; }
    bool firmwareUnknown() const { return firmwareUnknown_; }
    int gnGlobalFileCount() const { return gnGlobalFileCount_; }
    void setGnGlobalFileCount(int count) { gnGlobalFileCount_ = count; }
    int progress() const { return progress_; }
    std::string manualAddress();
    std::string downloadAddress();

  private:
    using Workflow = void (AppDelegate::*)();
    // A workflow started while the input is held keeps it held until the workflow ends.
    void startWorkflow(Workflow workflow);
    void joinFinished();
    void launchSequence();
    void holdInput();
    void releaseInput();
    bool stopRequested() const;
    // Suspend and shutdown held off for a writing run; what could not be held is told once.
    SleepInhibitorPtr holdOffSleep();
    // A type-2 question whose Yes starts `continuation` on a new thread.
    void askQuestion(const std::string& title, const std::string& message, Workflow continuation);
    void tell(const std::string& title, const std::string& message);
    void setProgress(int value);
    void say(const std::string& text) {
        ui_.setText(Line::Msg, aboutTool(text));
        noteShown(text);
    }
    // Several tools attached and none named: the user's pick names the tool in `settings`;
    // false when none was picked.
    bool pickTool(LinkSettings& settings);
    // `text` about the tool picked among several: prefixed with its name.
    std::string aboutTool(const std::string& text) const;
    std::optional<std::string> chosenDescription();
    void replaceToolRecord(FirmwarePackagePtr record);
    void readBackupState(FirmwarePackage* record);
    std::string serverAddress() const;  // with its scheme

    // The update run, in order.
    enum class ToolCheck { same, gone, switched };
    ToolCheck checkSameTool();
    // On the open link: the tool answering is the one identified. Another one is told and
    // reported; another one or none leaves the link closed.
    ToolCheck checkAttachedTool();
    bool programBootloaders(ProgrammingRun& run);
    bool rebootAndReconnect(int32_t bootVersionNumber);
    bool programFirmware(ProgrammingRun& run);
    bool programMemoryFiles(ProgrammingRun& run);
    bool programExtraFilesPhase(ProgrammingRun& run);
    // The extra files and their directory, shared by the full update and the memory-only
    // run. False with the failed file number (0: the directory) in `fileNumber`.
    bool programExtraFiles(sqlite3* database, const ExtraArea& area, int32_t eraseUnit,
                           int32_t* fileNumber);
    bool updateBluetoothModule(ProgrammingRun& run);
    void completeProgramming(ProgrammingRun& run);
    // Ends a run: the text, progress 0, the failure-report update when asked, the report.
    void failRun(ProgrammingRun& run, const std::string& text, const std::string& tag,
                 bool updateRecord);
    void report(FirmwarePackage* record, const std::string& tag);
    void reportWithoutTag(FirmwarePackage* record);
    void offerFindAgain() {
        if (findAfterFailure_) ui_.enableButton(Control::Find);
    }
    ProgressFn linkProgress();
    ToolLink* link();

    // Records the workflow it is made in from its start to its end, whatever way it ends.
    struct HistoryScope {
        HistoryScope(AppDelegate& owner, const char* workflow) : delegate(owner) {
            delegate.beginHistory(workflow);
        }
        ~HistoryScope() { delegate.finishHistory(); }
        HistoryScope(const HistoryScope&) = delete;
        HistoryScope& operator=(const HistoryScope&) = delete;
        AppDelegate& delegate;
    };
    void beginHistory(const char* workflow);
    void finishHistory();
    void noteShown(const std::string& text);
    void noteReport(const std::string* tag);
    void noteFirmwareAfter(const FirmwarePackage* record);
    void noteUploadedFiles(const UploadTally& tally);
    // The turn to upload `fileName`, waited for while another updater has it.
    UploadTurnPtr takeUploadTurn(const std::string& fileName, std::string* error);
    // The update stopped with the tool part written, by a path its report tags do not tell.
    void noteUnfinishedStep(const std::string& step);
    // An update of this tool that the history says did not finish: told, its firmware chosen.
    void tellUnfinishedUpdate(uint32_t serialNumber);

    UpdaterUi& ui_;
    ServerSession& session_;
    LinkSettings linkSettings_;

    ToolLinkPtr link_;
    FirmwarePackagePtr tool_;
    std::mutex choicesMutex_;
    FirmwareChoices choices_;
    std::atomic<int> progress_{0};
    std::atomic<bool> force_{false};
    std::atomic<bool> firmwareUnknown_{false};
    std::atomic<int> gnGlobalFileCount_{0};
    std::atomic<bool> findAfterFailure_{false};
    // The name of the tool picked among several, for the messages; set by Find Device.
    std::string aboutTool_;

    std::mutex historyMutex_;
    RunHistory history_;
    std::function<void(const std::string&)> historyFailure_;
    std::optional<HistoryRun> historyRun_;

    std::mutex runMutex_;
    std::condition_variable idle_;
    int running_ = 0;
    int holds_ = 0;
    // Workflow threads are joined, not left to end alone: a thread still releasing its
    // libraries' per-thread state (OpenSSL's) as the process exits leaks it. Both under runMutex_.
    std::vector<std::thread> threads_;
    std::vector<std::thread::id> finished_;
    std::atomic<int> writing_{0};
    std::atomic<bool> inhibitorNoted_{false};
};

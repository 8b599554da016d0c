#include "workflows/app_delegate.h"

#include <algorithm>
#include <thread>

#include "core/byte_string.h"
#include "core/stop_request.h"
#include "link/link_trace.h"
#include "server/server_request.h"
#include "server/server_session.h"
#include "workflows/message_text.h"

AppDelegate::AppDelegate(UpdaterUi& ui, ServerSession& session, LinkSettings linkSettings)
    : ui_(ui), session_(session), linkSettings_(std::move(linkSettings)) {}

AppDelegate::~AppDelegate() {
    waitIdle();
}

bool AppDelegate::applicationDidFinishLaunching() {
    ui_.hideControl(Control::FirmLabel);
    ui_.hideControl(Control::ProgramMemories);
    ui_.hideControl(Control::UploadReadFiles);
    bool current = ServerRequest_updaterOutdated(&session_) == 0;
    if (!current) {
        ui_.showOutOfDateSheet(
            "Updater is not up-to-date",
            "To install the latest version, please follow these steps:\r\n1. Click the Download "
            "button to download the newest updater package (.deb).\r\n2. Close this program."
            "\r\n3. Install it over the current one, in the folder it was saved to: sudo apt "
            "install ./<the downloaded file>.deb\r\nBuilt from source? Build the newest "
            "source and run cmake --install again.");
    }
    ui_.disableButton(Control::Manual);
    ui_.disableButton(Control::Program);
    return current;
}

void AppDelegate::startUp() {
    holdInput();
    ui_.setText(Line::Status, "Checking for a newer updater...");
    startWorkflow(&AppDelegate::launchSequence);
    releaseInput();
}

void AppDelegate::launchSequence() {
    applicationDidFinishLaunching();
    ui_.setText(Line::Status, "");
}

void AppDelegate::programInBackground() {
    holdInput();
    startWorkflow(&AppDelegate::programDevice);
    releaseInput();
}

void AppDelegate::holdInput() {
    bool first = false;
    {
        std::lock_guard lock(runMutex_);
        first = holds_++ == 0;
    }
    // Outside the lock: the port may wait for the main thread, which may want the lock.
    if (first) ui_.holdInput(true);
}

void AppDelegate::releaseInput() {
    bool last = false;
    {
        std::lock_guard lock(runMutex_);
        last = --holds_ == 0;
    }
    if (last) ui_.holdInput(false);
}

void AppDelegate::downloadBoxResult(int returnCode) {
    if (returnCode == kFirstButton) ui_.openAddress(downloadAddress());
}

std::string AppDelegate::serverAddress() const {
    return ServerSession_webAddress(&session_);
}

std::string AppDelegate::downloadAddress() {
    // The build names where the Linux updater is: a path on the server host, or a whole address.
    const std::string where = ZARVIK_UPDATER_DOWNLOAD;
    if (where.starts_with("http://") || where.starts_with("https://")) return where;
    return serverAddress() + where;
}

void AppDelegate::portClicked() {
    ui_.setColour(Line::Msg, Colour::Black);
    ui_.disableButton(Control::Find);
    ui_.disableButton(Control::Program);
    ui_.disableButton(Control::Manual);
    startWorkflow(&AppDelegate::findDevice);
}

void AppDelegate::programClicked() {
    programDevice();
}

std::string AppDelegate::manualAddress() {
    std::string name = getFirmwareName();
    // A name shorter than a version text is used whole.
    std::string version = name.substr(0, 7);
    std::string first, second;
    if (tool_ != nullptr) {
        first = ByteString_str(tool_->manualCode1);
        second = ByteString_str(tool_->manualCode2);
    }
    return serverAddress() + "docs/ZarvikV" + version + "-" + first + second + ".pdf";
}

void AppDelegate::manualClicked() {
    ui_.openAddress(manualAddress());
}

void AppDelegate::firmwareChoiceChanged(int index) {
    {
        std::lock_guard lock(choicesMutex_);
        if (choices_.count == 2) {
            choices_.opt2Row = index == 0 ? 0 : 1;
        } else if (choices_.count >= 3 && index >= 0 &&
                   index < static_cast<int>(choices_.opt4Items.size())) {
            choices_.opt4Selected = index;
        }
    }
    updateFirmwareDesc();
}

void AppDelegate::parseFirmwareIds(const std::string& listText) {
    FirmwareChoices snapshot;
    {
        std::lock_guard lock(choicesMutex_);
        ::parseFirmwareIds(choices_, listText);
        snapshot = choices_;
    }
    ui_.showFirmwareChoices(snapshot);
    if (snapshot.labelShown) ui_.showControl(Control::FirmLabel);
}

int AppDelegate::getFirmwareId() {
    std::lock_guard lock(choicesMutex_);
    return ::getFirmwareId(choices_);
}

std::string AppDelegate::getFirmwareName() {
    std::lock_guard lock(choicesMutex_);
    return ::getFirmwareName(choices_);
}

FirmwareChoices AppDelegate::choices() {
    std::lock_guard lock(choicesMutex_);
    return choices_;
}

std::optional<std::string> AppDelegate::chosenDescription() {
    std::lock_guard lock(choicesMutex_);
    auto index = chosenIndex(choices_);
    if (!index || *index >= static_cast<int>(choices_.opt5.size())) return std::nullopt;
    return choices_.opt5[*index];
}

void AppDelegate::updateFirmwareDesc() {
    if (auto description = chosenDescription()) say(*description);
}

void AppDelegate::startWorkflow(Workflow workflow) {
    const bool writing = workflow == &AppDelegate::executeProgramming ||
                         workflow == &AppDelegate::executeMemoryProgramming ||
                         workflow == &AppDelegate::executeUploadFile;
    bool first = false;
    bool keepsHold = false;
    {
        std::lock_guard lock(runMutex_);
        first = running_++ == 0;
        keepsHold = holds_ > 0;
        if (keepsHold) ++holds_;
    }
    // Counted before the thread starts: a close request that comes at once must be asked.
    if (writing) ++writing_;
    // A choice changed mid-run would describe a firmware other than the one being written;
    // a run started by a workflow's question keeps the lock its starter took.
    if (first) ui_.disableButton(Control::Choices);
    joinFinished();
    std::lock_guard started(runMutex_);
    threads_.emplace_back([this, workflow, writing, keepsHold] {
        {
            SleepInhibitorPtr inhibitor = writing ? holdOffSleep() : nullptr;
            (this->*workflow)();
            // A stopped run leaves the link closed, not half in use.
            if (stopRequested() && link_ != nullptr && link_->open) ToolLink_close(link_.get());
        }
        if (writing) --writing_;
        bool last = false;
        {
            std::lock_guard lock(runMutex_);
            last = running_ == 1;
        }
        if (last) ui_.enableButton(Control::Choices);
        if (keepsHold) releaseInput();
        std::lock_guard lock(runMutex_);
        --running_;
        finished_.push_back(std::this_thread::get_id());
        idle_.notify_all();
    });
}

void AppDelegate::joinFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard lock(runMutex_);
        const auto self = std::this_thread::get_id();
        auto split = std::stable_partition(threads_.begin(), threads_.end(), [&](auto& t) {
            return t.get_id() == self ||
                   std::find(finished_.begin(), finished_.end(), t.get_id()) == finished_.end();
        });
        for (auto t = split; t != threads_.end(); ++t) {
            std::erase(finished_, t->get_id());
            done.push_back(std::move(*t));
        }
        threads_.erase(split, threads_.end());
    }
    for (auto& t : done) t.join();
}

bool AppDelegate::stopRequested() const {
    return StopRequest_requested(linkSettings_.stop);
}

SleepInhibitorPtr AppDelegate::holdOffSleep() {
    std::string note;
    SleepInhibitorPtr inhibitor(SleepInhibitor_take(linkSettings_.timing.busCallTimeout, &note));
    if (!note.empty() && !inhibitorNoted_.exchange(true)) LinkTrace_note(linkSettings_.trace, note);
    return inhibitor;
}

void AppDelegate::waitIdle() {
    std::unique_lock lock(runMutex_);
    idle_.wait(lock, [this] { return running_ == 0; });
    lock.unlock();
    joinFinished();
}

void AppDelegate::askQuestion(const std::string& title, const std::string& message,
                              Workflow continuation) {
    if (ui_.messageBox(aboutTool(title), message, AlertMessage::kTypeYesNo) == kSecondButton) {
        startWorkflow(continuation);
    }
}

void AppDelegate::tell(const std::string& title, const std::string& message) {
    ui_.messageBoxNew(AlertMessage(aboutTool(title), message, AlertMessage::kTypeOk));
    noteShown(title + ": " + message);
}

void AppDelegate::setProgress(int value) {
    progress_ = value;
    ui_.setProgress(value);
}

void AppDelegate::replaceToolRecord(FirmwarePackagePtr record) {
    tool_ = std::move(record);
}

ProgressFn AppDelegate::linkProgress() {
    return [this](int percent) { setProgress(percent); };
}

ToolLink* AppDelegate::link() {
    // A workflow reached without Find Device still gets a link to look for the tool with.
    if (link_ == nullptr) link_ = makeToolLink(linkSettings_);
    return link_.get();
}

void AppDelegate::programMemOnlyClicked() {
    force_ = true;
    // Held to the run's end: the upload button stays live under this run, and the upload run
    // touches no button at all, so nothing else would keep a second workflow off the link.
    holdInput();
    askQuestion("Programming memory files",
                "You are about to program the memory files. Are you sure you want to continue?",
                &AppDelegate::executeMemoryProgramming);
    releaseInput();
}

void AppDelegate::uploadFilesClicked() {
    force_ = true;
    holdInput();
    askQuestion("Uploading backup files",
                "You are about to upload backup files. Are you sure you want to continue?",
                &AppDelegate::executeUploadFile);
    releaseInput();
}

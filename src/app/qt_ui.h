// The window's face of the UI port. A workflow thread's calls are carried to the main thread
// and waited for; progress is stored and drawn later, never waited for. Calls made on the
// main thread (Program, start-up) act at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "workflows/updater_ui.h"

class MainWindow;

// A box as the user sees it: its buttons in order; the answer is kFirstButton + the index.
struct QtBox {
    std::string title;
    std::string message;
    std::vector<std::string> buttons;
};

class QtUi : public UpdaterUi {
  public:
    explicit QtUi(MainWindow& window);

    // Who hears the answer of the out-of-date sheet (the controller's downloadBoxResult).
    std::function<void(int returnCode)> onDownloadAnswer;
    // Answers boxes instead of a person, without a modal loop (tests, the screenshot).
    std::function<int(const QtBox& box)> answerBox;
    // Opens an address; empty: the desktop's default browser.
    std::function<void(const std::string& address)> openInBrowser;

    void setText(Line line, const std::string& text) override;
    void setColour(Line line, Colour colour) override;
    std::string messageText() override;
    void enableButton(Control control) override;
    void disableButton(Control control) override;
    void showControl(Control control) override;
    void hideControl(Control control) override;
    void setProgress(int value) override;
    void setTimeRemaining(int seconds) override;
    void holdInput(bool held) override;
    int messageBox(const std::string& title, const std::string& message, int type) override;
    void messageBoxNew(const AlertMessage& alert) override;
    int chooseTool(const std::vector<std::string>& tools) override;
    void showOutOfDateSheet(const std::string& message, const std::string& informative) override;
    void showFirmwareChoices(const FirmwareChoices& choices) override;
    void openAddress(const std::string& address) override;

    // A message box is open now (main thread only).
    bool boxOpen() const { return openBoxes_ > 0; }
    // Asks, on the main thread, whether to close under a running update; true for Yes.
    bool askCloseDuringUpdate();

  private:
    // Runs `work` on the main thread and returns when it is done.
    void onMain(const std::function<void()>& work);
    int runBox(const QtBox& box);

    MainWindow& window_;
    int openBoxes_ = 0;
};

inline constexpr const char* kChooseTool = "Several KTX2 tools are attached";
inline constexpr const char* kChooseToolMessage = "Which one do you want to use?";

inline constexpr const char* kCloseDuringUpdate =
    "An update is running. Closing now can leave the KTX2 unusable until it is programmed again. "
    "Close anyway?";

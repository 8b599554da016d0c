// The command line's face of the UI port: status on standard error, questions on the
// terminal, or one JSON object per port call on standard output.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "workflows/updater_ui.h"

class CliUi : public UpdaterUi {
  public:
    struct Settings {
        bool json = false;
        bool yes = false;  // answer Yes to every question
        // With `yes`: the questions this says are warnings are answered No.
        std::function<bool()> warning;
        FILE* out = stdout;
        FILE* err = stderr;
        // Where questions are asked; null: no terminal, every question is answered No.
        FILE* terminal = nullptr;
        // Opens an address in the user's browser; empty: only print it.
        std::function<void(const std::string&)> openInBrowser;
    };
    explicit CliUi(Settings settings);
    ~CliUi() override;

    void setText(Line line, const std::string& text) override;
    void setColour(Line line, Colour colour) override;
    std::string messageText() override;
    void enableButton(Control control) override;
    void disableButton(Control control) override;
    void showControl(Control control) override;
    void hideControl(Control control) override;
    void setProgress(int value) override;
    // Carried by the progress that follows: in the bar's line and as "remainingSeconds".
    void setTimeRemaining(int seconds) override;
    int messageBox(const std::string& title, const std::string& message, int type) override;
    void messageBoxNew(const AlertMessage& alert) override;
    void showOutOfDateSheet(const std::string& message, const std::string& informative) override;
    void showFirmwareChoices(const FirmwareChoices& choices) override;
    void openAddress(const std::string& address) override;

    const Settings& settings() const { return settings_; }
    // What the window would show now.
    std::string text(Line line);
    Colour colour(Line line);
    bool enabled(Control control);
    bool shown(Control control);
    std::string lastAddress();
    // Title of the last message box shown.
    std::string lastBoxTitle();
    // Ends a progress bar line so that the next output starts on a fresh line.
    void finishProgress();

  private:
    void emit(const std::string& jsonLine);
    int ask(const std::string& title, const std::string& message, int type);

    Settings settings_;
    std::mutex mutex_;
    std::map<Line, std::string> texts_;
    std::map<Line, Colour> colours_;
    std::map<Control, bool> enabled_;
    std::map<Control, bool> shown_;
    std::string lastAddress_;
    std::string lastBoxTitle_;
    int lastProgress_ = -2;
    int remainingSeconds_ = -1;
    bool progressLine_ = false;
};

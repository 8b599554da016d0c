// The only way a workflow reaches the user. The window and the command line implement it;
// a calling workflow thread waits for every operation except setProgress.
#pragma once

#include <string>
#include <vector>

#include "workflows/alert_message.h"
#include "workflows/firmware_choices.h"

enum class Line { Msg, Name, Car, Firm, Status };
enum class Colour { Black, Red, Green };
enum class Control {
    Find,
    Program,
    ProgramMemories,
    UploadReadFiles,
    Manual,
    Close,
    FirmLabel,
    Choices,  // opt1, opt2 and opt4 together
};

// Answers of a message box: its first and second button.
inline constexpr int kFirstButton = 1000;
inline constexpr int kSecondButton = 1001;
// chooseTool of a front end that does not ask: the first tool is taken, as the link would.
inline constexpr int kToolNotAsked = -2;

class UpdaterUi {
  public:
    virtual ~UpdaterUi() = default;

    virtual void setText(Line line, const std::string& text) = 0;
    virtual void setColour(Line line, Colour colour) = 0;
    virtual std::string messageText() = 0;
    virtual void enableButton(Control control) = 0;
    virtual void disableButton(Control control) = 0;
    virtual void showControl(Control control) = 0;
    virtual void hideControl(Control control) = 0;
    // -1 is indeterminate. Never waits for the front end.
    virtual void setProgress(int value) = 0;
    // The time the running transfer still needs, shown with the progress; -1 clears it.
    // Never waits for the front end; a front end without a place for it ignores it.
    virtual void setTimeRemaining(int /*seconds*/) {}
    // While held the window takes no input but Close; the controls keep their own enabled
    // state underneath. Front ends that take no input while a workflow runs ignore it.
    virtual void holdInput(bool /*held*/) {}
    // Type 2 offers "No" then "Yes", type 1 "Ok"; returns kFirstButton or kSecondButton.
    virtual int messageBox(const std::string& title, const std::string& message, int type) = 0;
    virtual void messageBoxNew(const AlertMessage& alert) = 0;
    // Several tools are attached and none is named: which one Find Device takes, by index
    // into `tools` (their labels), or -1 for none.
    virtual int chooseTool(const std::vector<std::string>& /*tools*/) { return kToolNotAsked; }
    // The out-of-date sheet with "Download" and "Cancel"; does not wait for the answer. The
    // front end hands the answer to AppDelegate::downloadBoxResult.
    virtual void showOutOfDateSheet(const std::string& message, const std::string& informative) = 0;
    // Redraws the firmware choice controls from the model.
    virtual void showFirmwareChoices(const FirmwareChoices& choices) = 0;
    virtual void openAddress(const std::string& address) = 0;
};

const char* lineName(Line line);
const char* colourName(Colour colour);
const char* controlName(Control control);

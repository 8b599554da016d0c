// The updater's one window: the tool's lines, the firmware choice, the message line, the
// progress bar and the buttons. It only draws; QtUi drives it and the controller acts.
#pragma once

#include <QWidget>
#include <atomic>
#include <functional>
#include <map>
#include <vector>

#include "workflows/firmware_choices.h"
#include "workflows/updater_ui.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

class MainWindow : public QWidget {
  public:
    explicit MainWindow(QWidget* parent = nullptr);

    QLabel* line(Line which) const;
    // The widget behind a control of the port (buttons, the firmware label, the choice).
    QWidget* control(Control which) const;

    void setLineColour(Line which, Colour colour);
    // Sets a line's text and grows the window when the text wraps onto more rows than it has
    // room for: a window keeps the size it was shown at, and would cut the text off.
    void setLineText(Line which, const QString& text);
    // Enables or disables a control; while the input is held the change waits for the release.
    void setControlEnabled(Control which, bool enabled);
    // Greys out every control but Close, and gives each back its own state on release.
    void holdInput(bool held);
    // Draws the current progress value: -1 is indeterminate, else a percentage.
    void showProgress();
    // Shows the control that holds the choice and fills it, without reporting a change.
    void showChoices(const FirmwareChoices& choices);

    // The user picked another firmware: the row of opt2 or the item of opt4.
    std::function<void(int index)> onChoiceChanged;
    // Program Memories and Upload Read Files start these when set.
    void setMemoryActions(std::function<void()> programMemories, std::function<void()> uploadFiles);

    // Asked before the window closes, however the close was asked for; false keeps it open.
    std::function<bool()> mayClose;

    // Written by any thread, drawn by showProgress on the main thread.
    std::atomic<int> progressValue{0};
    std::atomic<int> remainingSeconds{-1};  // -1: no estimate to show

    QLabel* imgBackground;
    QPushButton* btnFind;
    QPushButton* btnProgram;
    QPushButton* btnProgramMemories;
    QPushButton* btnUploadReadFiles;
    QPushButton* btnManual;
    QPushButton* btnClose;
    QLabel* txtMsg;
    QLabel* txtName;
    QLabel* txtCar;
    QLabel* txtFirm;
    QLabel* txtStatus;
    QLabel* txtFirmLabel;
    QWidget* choiceBox;  // holds opt1, opt2_1, opt2_2 and opt4
    QProgressBar* bar;
    QLineEdit* opt1;
    QButtonGroup* opt2;
    QRadioButton* opt2_1;
    QRadioButton* opt2_2;
    QComboBox* opt4;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    std::vector<QWidget*> heldControls() const;

    bool held_ = false;
    std::map<QWidget*, bool> heldState_;  // each held control's own state
    std::function<void()> programMemories_;
    std::function<void()> uploadFiles_;
};

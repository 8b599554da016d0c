#include "app/qt_ui.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/main_window.h"

namespace {

QString qText(const std::string& text) {
    QString q = QString::fromStdString(text);
    // The messages end lines the Mac way too; one line break is enough here.
    q.replace("\r\n", "\n");
    return q;
}

QtBox boxOf(const std::string& title, const std::string& message, int type) {
    QtBox box{title, message, {}};
    if (type == AlertMessage::kTypeYesNo) {
        box.buttons = {"No", "Yes"};
    } else if (type == AlertMessage::kTypeOk) {
        box.buttons = {"Ok"};
    }
    return box;
}

// A modal box on `parent`; the answer is kFirstButton + the index of the button pressed.
QMessageBox* makeBox(QWidget* parent, const QtBox& box, std::vector<QAbstractButton*>* buttons) {
    auto* alert = new QMessageBox(parent);
    alert->setIcon(QMessageBox::NoIcon);
    alert->setTextFormat(Qt::PlainText);
    alert->setWindowTitle("Zarvik Updater");
    alert->setText(qText(box.title));
    alert->setInformativeText(qText(box.message));
    QAbstractButton* careful = nullptr;
    for (const std::string& name : box.buttons) {
        bool back = name == "No" || name == "Cancel";
        QPushButton* button =
            alert->addButton(qText(name), back ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        buttons->push_back(button);
        if (back && careful == nullptr) careful = button;
    }
    if (careful != nullptr) alert->setEscapeButton(careful);
    // Return presses the first button, as on the Mac: No before a long reflash.
    if (!buttons->empty()) alert->setDefaultButton(static_cast<QPushButton*>(buttons->front()));
    return alert;
}

// The question of which tool: the tools one under the other, as many as are attached, with
// their nodes in full (a message box's row of buttons cuts them short from the third on).
// Cancel is the default and comes first in the answer's numbering, as in the box.
int runToolChoice(QWidget* parent, const QtBox& box) {
    QDialog dialog(parent);
    dialog.setObjectName("toolChoice");
    dialog.setWindowTitle("Zarvik Updater");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(qText(box.title)));
    layout->addWidget(new QLabel(qText(box.message)));
    int answer = kFirstButton;
    for (size_t i = 1; i < box.buttons.size(); ++i) {
        auto* tool = new QPushButton(qText(box.buttons[i]));
        tool->setAutoDefault(false);
        QObject::connect(tool, &QPushButton::clicked, &dialog, [&dialog, &answer, i] {
            answer = kFirstButton + static_cast<int>(i);
            dialog.accept();
        });
        layout->addWidget(tool);
    }
    auto* cancel = new QDialogButtonBox(QDialogButtonBox::Cancel);
    QObject::connect(cancel, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    cancel->button(QDialogButtonBox::Cancel)->setDefault(true);
    layout->addWidget(cancel);
    dialog.exec();
    return answer;
}

int answerOf(QMessageBox* alert, const std::vector<QAbstractButton*>& buttons) {
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (alert->clickedButton() == buttons[i]) return kFirstButton + static_cast<int>(i);
    }
    // Closed without a button: the first (careful) answer.
    return kFirstButton;
}

}  // namespace

QtUi::QtUi(MainWindow& window) : window_(window) {}

void QtUi::onMain(const std::function<void()>& work) {
    if (QThread::currentThread() == window_.thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(&window_, work, Qt::BlockingQueuedConnection);
}

void QtUi::setText(Line line, const std::string& text) {
    onMain([&] { window_.setLineText(line, QString::fromStdString(text)); });
}

void QtUi::setColour(Line line, Colour colour) {
    onMain([&] { window_.setLineColour(line, colour); });
}

std::string QtUi::messageText() {
    std::string text;
    onMain([&] { text = window_.txtMsg->text().toStdString(); });
    return text;
}

void QtUi::enableButton(Control control) {
    onMain([&] { window_.setControlEnabled(control, true); });
}

void QtUi::disableButton(Control control) {
    onMain([&] { window_.setControlEnabled(control, false); });
}

void QtUi::showControl(Control control) {
    onMain([&] { window_.control(control)->setVisible(true); });
}

void QtUi::hideControl(Control control) {
    onMain([&] { window_.control(control)->setVisible(false); });
}

void QtUi::setProgress(int value) {
    window_.progressValue = value;
    // Posted, never waited for: only the latest value is drawn.
    MainWindow* window = &window_;
    QMetaObject::invokeMethod(
        window, [window] { window->showProgress(); }, Qt::QueuedConnection);
}

void QtUi::setTimeRemaining(int seconds) {
    // Drawn with the next progress value, which follows at once.
    window_.remainingSeconds = seconds;
    if (seconds < 0) setProgress(window_.progressValue.load());
}

void QtUi::holdInput(bool held) {
    onMain([&] { window_.holdInput(held); });
}

int QtUi::runBox(const QtBox& box) {
    ++openBoxes_;
    int answer = kFirstButton;
    if (answerBox) {
        answer = answerBox(box);
    } else if (box.title == kChooseTool) {
        answer = runToolChoice(&window_, box);
    } else {
        std::vector<QAbstractButton*> buttons;
        QMessageBox* alert = makeBox(&window_, box, &buttons);
        alert->exec();
        answer = answerOf(alert, buttons);
        delete alert;
    }
    --openBoxes_;
    return answer;
}

bool QtUi::askCloseDuringUpdate() {
    // No comes first and is the default: Return must not end an update.
    return runBox(QtBox{kCloseDuringUpdate, "", {"No", "Yes"}}) == kSecondButton;
}

int QtUi::messageBox(const std::string& title, const std::string& message, int type) {
    int answer = kFirstButton;
    QtBox box = boxOf(title, message, type);
    onMain([&] { answer = runBox(box); });
    return answer;
}

void QtUi::messageBoxNew(const AlertMessage& alert) {
    messageBox(alert.getTitle(), alert.getMessage(), alert.getType());
}

int QtUi::chooseTool(const std::vector<std::string>& tools) {
    // Cancel comes first: Return or a closed box takes no tool.
    QtBox box{kChooseTool, kChooseToolMessage, {"Cancel"}};
    box.buttons.insert(box.buttons.end(), tools.begin(), tools.end());
    int answer = kFirstButton;
    onMain([&] { answer = runBox(box); });
    const int index = answer - kFirstButton - 1;
    return index >= 0 && index < static_cast<int>(tools.size()) ? index : -1;
}

void QtUi::showOutOfDateSheet(const std::string& message, const std::string& informative) {
    QtBox box{message, informative, {"Download", "Cancel"}};
    onMain([&] {
        if (answerBox) {
            // Start-up goes on before the answer arrives, as with the real sheet.
            int answer = answerBox(box);
            QTimer::singleShot(0, &window_, [this, answer] {
                if (onDownloadAnswer) onDownloadAnswer(answer);
            });
            return;
        }
        auto buttons = std::make_shared<std::vector<QAbstractButton*>>();
        QMessageBox* sheet = makeBox(&window_, box, buttons.get());
        sheet->setWindowModality(Qt::WindowModal);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(sheet, &QMessageBox::finished, &window_, [this, sheet, buttons] {
            if (onDownloadAnswer) onDownloadAnswer(answerOf(sheet, *buttons));
        });
        sheet->open();
    });
}

void QtUi::showFirmwareChoices(const FirmwareChoices& choices) {
    onMain([&] { window_.showChoices(choices); });
}

void QtUi::openAddress(const std::string& address) {
    onMain([&] {
        if (openInBrowser) {
            openInBrowser(address);
        } else {
            QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
        }
    });
}

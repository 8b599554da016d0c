// The window's UI port on its own: calls from a workflow thread, the progress bar and the
// real message boxes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <future>
#include <thread>

#include "app/main_window.h"
#include "app/qt_ui.h"

namespace {

using namespace std::chrono_literals;

// Serves the main thread's events until `future` is ready.
template <typename T>
bool serveUntil(std::future<T>& future, std::chrono::seconds limit = 10s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (future.wait_for(0s) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QCoreApplication::processEvents();
    return true;
}

// Presses the button named `name` of the next box, as soon as one is shown.
void pressInNextBox(const QString& name) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, name] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box == nullptr || !box->isVisible()) continue;
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == name) {
                    poll->stop();
                    poll->deleteLater();
                    b->click();
                    return;
                }
            }
        }
    });
    poll->start(10);
}

}  // namespace

TEST(QtUi, AWorkflowThreadWaitsForEachChangeInOrder) {
    MainWindow window;
    QtUi ui(window);
    auto work = std::async(std::launch::async, [&] {
        ui.setText(Line::Msg, "Gathering tool info. Step 1");
        std::string first = ui.messageText();
        // Server text is shown as it is, never read as markup.
        ui.setText(Line::Name, "Name : <b>KTX2</b> & co");
        ui.setText(Line::Status, "Status");
        ui.setColour(Line::Msg, Colour::Green);
        ui.disableButton(Control::Program);
        ui.disableButton(Control::Choices);
        ui.hideControl(Control::UploadReadFiles);
        ui.setText(Line::Msg, "Done");
        return first + "|" + ui.messageText();
    });
    ASSERT_TRUE(serveUntil(work));
    EXPECT_EQ(work.get(), "Gathering tool info. Step 1|Done");
    EXPECT_EQ(window.txtName->text(), "Name : <b>KTX2</b> & co");
    EXPECT_EQ(window.txtName->textFormat(), Qt::PlainText);
    EXPECT_EQ(window.txtStatus->text(), "Status");
    EXPECT_EQ(window.txtMsg->palette().color(QPalette::WindowText), QColor(0x10, 0x80, 0x20));
    EXPECT_FALSE(window.btnProgram->isEnabled());
    EXPECT_FALSE(window.opt4->isEnabled());
    EXPECT_TRUE(window.btnUploadReadFiles->isHidden());
}

TEST(QtUi, ProgressNeverWaitsAndOnlyTheLatestValueIsDrawn) {
    MainWindow window;
    QtUi ui(window);
    // The main thread serves nothing while the workflow reports: a waiting call would hang.
    auto work = std::async(std::launch::async, [&] {
        ui.setProgress(-1);
        ui.setProgress(10);
        ui.setTimeRemaining(125);
        ui.setProgress(40);
    });
    ASSERT_EQ(work.wait_for(10s), std::future_status::ready);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.bar->maximum(), 100);
    EXPECT_EQ(window.bar->value(), 40);
    EXPECT_TRUE(window.bar->isTextVisible());
    EXPECT_EQ(window.bar->text(), "40%  -  About 3 min remaining");
    ui.setTimeRemaining(-1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.bar->isTextVisible());

    // Indeterminate, then determinate again, clamped.
    ui.setProgress(-1);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.bar->minimum(), 0);
    EXPECT_EQ(window.bar->maximum(), 0);
    ui.setProgress(250);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.bar->value(), 100);
}

struct BoxCase {
    int type;
    const char* press;
    int answer;
};

class QtUiBox : public ::testing::TestWithParam<BoxCase> {};

TEST_P(QtUiBox, TheButtonPressedGivesItsReturnCode) {
    const BoxCase& c = GetParam();
    MainWindow window;
    QtUi ui(window);
    pressInNextBox(c.press);
    // Asked from a workflow thread, as the workflows do.
    auto asked = std::async(std::launch::async, [&] {
        return ui.messageBox("Do you wish to proceed?", "Sure?", c.type);
    });
    ASSERT_TRUE(serveUntil(asked));
    EXPECT_EQ(asked.get(), c.answer);
}

INSTANTIATE_TEST_SUITE_P(Boxes, QtUiBox,
                         ::testing::Values(BoxCase{2, "No", kFirstButton},
                                           BoxCase{2, "Yes", kSecondButton},
                                           BoxCase{1, "Ok", kFirstButton}));

// Four tools on a hub, with nodes as long as a fake tree's: each is shown in full, and the
// answer is the tool pressed; Return and Escape take none.
struct ToolChoiceCase {
    const char* name;
    int press;  // the tool's button, -1 for Cancel
    int key;    // pressed instead of a button when not 0
    int answer;
};

class QtUiToolChoice : public ::testing::TestWithParam<ToolChoiceCase> {};

TEST_P(QtUiToolChoice, ShowsEveryToolInFullAndAnswersThePressedOne) {
    const ToolChoiceCase& c = GetParam();
    MainWindow window;
    window.show();
    QtUi ui(window);
    std::vector<std::string> tools;
    for (char name : std::string("ABCD")) {
        tools.push_back(std::string("USB serial KTX2-") + name +
                        ", /tmp/tmp.eSjKXQNdyV/fake/dev/ttyACM" + std::to_string(tools.size()));
    }
    bool cut = false;
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || !dialog->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        std::vector<QPushButton*> toolButtons;
        QPushButton* cancel = nullptr;
        for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
            if (b->text().startsWith("USB serial")) {
                toolButtons.push_back(b);
                cut = cut || b->width() < b->sizeHint().width();
            } else {
                cancel = b;
            }
        }
        ASSERT_EQ(toolButtons.size(), tools.size());
        if (c.key != 0) {
            QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
            QApplication::sendEvent(dialog->focusWidget() ? dialog->focusWidget() : dialog, &press);
        } else if (c.press < 0) {
            ASSERT_NE(cancel, nullptr);
            cancel->click();
        } else {
            toolButtons[c.press]->click();
        }
    });
    poll->start(10);
    auto asked = std::async(std::launch::async, [&] { return ui.chooseTool(tools); });
    ASSERT_TRUE(serveUntil(asked));
    EXPECT_EQ(asked.get(), c.answer);
    EXPECT_FALSE(cut);
}

INSTANTIATE_TEST_SUITE_P(Hub, QtUiToolChoice,
                         ::testing::Values(ToolChoiceCase{"TheFourth", 3, 0, 3},
                                           ToolChoiceCase{"TheFirst", 0, 0, 0},
                                           ToolChoiceCase{"Cancel", -1, 0, -1},
                                           ToolChoiceCase{"Return", 0, Qt::Key_Return, -1},
                                           ToolChoiceCase{"Escape", 0, Qt::Key_Escape, -1}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(QtUi, TheOutOfDateSheetDoesNotBlockAndHandsOnItsAnswer) {
    MainWindow window;
    window.show();
    QtUi ui(window);
    std::vector<int> answers;
    ui.onDownloadAnswer = [&](int answer) { answers.push_back(answer); };

    ui.showOutOfDateSheet("Updater is not up-to-date", "1. Click\r\n2. Close");
    EXPECT_TRUE(answers.empty());
    auto* sheet = window.findChild<QMessageBox*>();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->informativeText(), "1. Click\n2. Close");
    ASSERT_EQ(sheet->buttons().size(), 2);
    for (QAbstractButton* b : sheet->buttons()) {
        if (b->text() == "Download") b->click();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(answers, std::vector<int>{kFirstButton});
}

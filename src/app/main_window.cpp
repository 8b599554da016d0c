#include "app/main_window.h"

#include "workflows/time_remaining.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QLabel* textLine(QWidget* parent, bool wrap) {
    auto* label = new QLabel(parent);
    // Server and tool texts are shown as they are, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QColor colourOf(Colour colour) {
    switch (colour) {
        case Colour::Red:
            return QColor(0xc0, 0x10, 0x10);
        case Colour::Green:
            return QColor(0x10, 0x80, 0x20);
        case Colour::Black:
            break;
    }
    return Qt::black;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle("Zarvik Updater");
    setWindowIcon(QIcon(":/zarvik/icon.png"));

    // The backdrop is opaque white whatever the desktop theme says.
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    setPalette(white);
    setAutoFillBackground(true);

    imgBackground = new QLabel(this);
    imgBackground->setPixmap(QPixmap(":/zarvik/backdrop.png"));
    imgBackground->setAlignment(Qt::AlignCenter);

    txtName = textLine(this, false);
    txtCar = textLine(this, false);
    txtFirm = textLine(this, false);
    txtStatus = textLine(this, true);
    txtMsg = textLine(this, true);
    txtMsg->setMinimumHeight(48);
    txtMsg->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont big = txtName->font();
    big.setPointSizeF(big.pointSizeF() * 1.15);
    big.setBold(true);
    txtName->setFont(big);

    txtFirmLabel = new QLabel("Firmware :", this);
    // One parent for the choice controls, so that a running workflow can lock them at once.
    choiceBox = new QWidget(this);
    opt1 = new QLineEdit(choiceBox);
    opt1->setReadOnly(true);
    opt1->setFrame(false);
    opt2 = new QButtonGroup(this);
    opt2_1 = new QRadioButton(choiceBox);
    opt2_2 = new QRadioButton(choiceBox);
    opt2->addButton(opt2_1, 0);
    opt2->addButton(opt2_2, 1);
    opt4 = new QComboBox(choiceBox);
    opt4->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    opt4->setMinimumWidth(220);

    bar = new QProgressBar(this);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);

    btnFind = new QPushButton("Find Device", this);
    btnProgram = new QPushButton("Program", this);
    btnProgramMemories = new QPushButton("Program Memories", this);
    btnUploadReadFiles = new QPushButton("Upload Read Files", this);
    btnManual = new QPushButton("Manual", this);
    btnClose = new QPushButton("Close", this);
    btnFind->setDefault(true);

    // Tool lines, then the choice, then what is happening, then the buttons.
    auto* tool = new QVBoxLayout;
    tool->setSpacing(4);
    tool->addWidget(txtName);
    tool->addWidget(txtCar);
    tool->addWidget(txtFirm);
    tool->addWidget(txtStatus);

    auto* choices = new QHBoxLayout(choiceBox);
    choices->setContentsMargins(0, 0, 0, 0);
    choices->addWidget(opt1, 1);
    choices->addWidget(opt2_1);
    choices->addWidget(opt2_2);
    choices->addWidget(opt4);
    choices->addStretch(0);
    auto* choice = new QHBoxLayout;
    choice->addWidget(txtFirmLabel);
    choice->addWidget(choiceBox, 1);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    auto* buttons = new QGridLayout;
    buttons->addWidget(btnFind, 0, 0);
    buttons->addWidget(btnProgram, 0, 1);
    buttons->addWidget(btnManual, 0, 2);
    buttons->addWidget(btnClose, 0, 3);
    buttons->addWidget(btnProgramMemories, 1, 0, 1, 2);
    buttons->addWidget(btnUploadReadFiles, 1, 2, 1, 2);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(20, 12, 20, 16);
    body->setSpacing(10);
    body->addLayout(tool);
    body->addLayout(choice);
    body->addWidget(rule);
    body->addWidget(txtMsg);
    body->addWidget(bar);
    body->addLayout(buttons);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    page->addWidget(imgBackground);
    page->addLayout(body);
    page->addStretch(1);

    for (QWidget* w : {static_cast<QWidget*>(opt1), static_cast<QWidget*>(opt2_1),
                       static_cast<QWidget*>(opt2_2), static_cast<QWidget*>(opt4)}) {
        w->hide();
    }
    setMinimumWidth(std::max(600, imgBackground->pixmap().width()));

    QObject::connect(opt2, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked && onChoiceChanged) onChoiceChanged(id);
    });
    QObject::connect(opt4, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && onChoiceChanged) onChoiceChanged(index);
    });
    QObject::connect(btnProgramMemories, &QPushButton::clicked, this, [this] {
        if (programMemories_) programMemories_();
    });
    QObject::connect(btnUploadReadFiles, &QPushButton::clicked, this, [this] {
        if (uploadFiles_) uploadFiles_();
    });
}

QLabel* MainWindow::line(Line which) const {
    switch (which) {
        case Line::Msg:
            return txtMsg;
        case Line::Name:
            return txtName;
        case Line::Car:
            return txtCar;
        case Line::Firm:
            return txtFirm;
        case Line::Status:
            return txtStatus;
    }
    return txtMsg;
}

QWidget* MainWindow::control(Control which) const {
    switch (which) {
        case Control::Find:
            return btnFind;
        case Control::Program:
            return btnProgram;
        case Control::ProgramMemories:
            return btnProgramMemories;
        case Control::UploadReadFiles:
            return btnUploadReadFiles;
        case Control::Manual:
            return btnManual;
        case Control::Close:
            return btnClose;
        case Control::FirmLabel:
            return txtFirmLabel;
        case Control::Choices:
            return choiceBox;
    }
    return nullptr;
}

void MainWindow::setLineText(Line which, const QString& text) {
    line(which)->setText(text);
    const int needed = heightForWidth(width());
    if (needed > height()) resize(width(), needed);
}

void MainWindow::setLineColour(Line which, Colour colour) {
    QLabel* label = line(which);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colourOf(colour));
    label->setPalette(p);
}

void MainWindow::showProgress() {
    int value = progressValue.load();
    if (value == -1) {
        // A range of 0 to 0 is Qt's busy bar.
        bar->setRange(0, 0);
        return;
    }
    bar->setRange(0, 100);
    bar->setValue(std::clamp(value, 0, 100));
    const std::string remaining = TimeRemaining_text(remainingSeconds.load());
    bar->setTextVisible(!remaining.empty());
    if (!remaining.empty()) bar->setFormat("%p%  -  " + QString::fromStdString(remaining));
}

std::vector<QWidget*> MainWindow::heldControls() const {
    return {btnFind, btnProgram, btnProgramMemories, btnUploadReadFiles, btnManual, choiceBox};
}

void MainWindow::setControlEnabled(Control which, bool enabled) {
    QWidget* widget = control(which);
    if (held_ && heldState_.contains(widget)) {
        heldState_[widget] = enabled;
        return;
    }
    widget->setEnabled(enabled);
}

void MainWindow::holdInput(bool held) {
    if (held == held_) return;
    held_ = held;
    for (QWidget* widget : heldControls()) {
        if (held) {
            heldState_[widget] = widget->isEnabled();
            widget->setEnabled(false);
        } else {
            widget->setEnabled(heldState_[widget]);
        }
    }
    if (!held) heldState_.clear();
}

void MainWindow::showChoices(const FirmwareChoices& choices) {
    const QSignalBlocker quietRadios(opt2);
    const QSignalBlocker quietList(opt4);
    opt1->setText(QString::fromStdString(choices.opt1));
    opt1->setCursorPosition(0);
    opt2_1->setText(QString::fromStdString(choices.opt2Titles[0]));
    opt2_2->setText(QString::fromStdString(choices.opt2Titles[1]));
    (choices.opt2Row == 0 ? opt2_1 : opt2_2)->setChecked(true);
    opt4->clear();
    for (const std::string& item : choices.opt4Items) opt4->addItem(QString::fromStdString(item));
    opt4->setCurrentIndex(choices.opt4Selected);

    opt1->setVisible(choices.shown == ChoiceControl::Opt1);
    opt2_1->setVisible(choices.shown == ChoiceControl::Opt2);
    opt2_2->setVisible(choices.shown == ChoiceControl::Opt2);
    opt4->setVisible(choices.shown == ChoiceControl::Opt4);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (mayClose && !mayClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::setMemoryActions(std::function<void()> programMemories,
                                  std::function<void()> uploadFiles) {
    programMemories_ = std::move(programMemories);
    uploadFiles_ = std::move(uploadFiles);
}

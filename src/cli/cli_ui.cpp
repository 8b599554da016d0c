#include "cli/cli_ui.h"

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "workflows/time_remaining.h"

using nlohmann::json;

CliUi::CliUi(Settings settings) : settings_(settings) {}

CliUi::~CliUi() {
    finishProgress();
}

void CliUi::emit(const std::string& jsonLine) {
    std::fprintf(settings_.out, "%s\n", jsonLine.c_str());
    std::fflush(settings_.out);
}

void CliUi::finishProgress() {
    if (progressLine_) {
        std::fputc('\n', settings_.err);
        progressLine_ = false;
    }
}

void CliUi::setText(Line line, const std::string& text) {
    std::lock_guard lock(mutex_);
    texts_[line] = text;
    if (settings_.json) {
        emit(json{{"event", "text"}, {"line", lineName(line)}, {"text", text}}.dump());
    } else if ((line == Line::Msg || line == Line::Status) && !text.empty()) {
        finishProgress();
        std::fprintf(settings_.err, "%s\n", text.c_str());
    }
}

void CliUi::setColour(Line line, Colour colour) {
    std::lock_guard lock(mutex_);
    colours_[line] = colour;
    if (settings_.json) {
        emit(json{{"event", "colour"}, {"line", lineName(line)}, {"colour", colourName(colour)}}
                 .dump());
    }
}

std::string CliUi::messageText() {
    std::lock_guard lock(mutex_);
    return texts_[Line::Msg];
}

void CliUi::enableButton(Control control) {
    std::lock_guard lock(mutex_);
    enabled_[control] = true;
    if (settings_.json) {
        emit(
            json{{"event", "button"}, {"control", controlName(control)}, {"enabled", true}}.dump());
    }
}

void CliUi::disableButton(Control control) {
    std::lock_guard lock(mutex_);
    enabled_[control] = false;
    if (settings_.json) {
        emit(json{{"event", "button"}, {"control", controlName(control)}, {"enabled", false}}
                 .dump());
    }
}

void CliUi::showControl(Control control) {
    std::lock_guard lock(mutex_);
    shown_[control] = true;
    if (settings_.json) {
        emit(json{{"event", "view"}, {"control", controlName(control)}, {"shown", true}}.dump());
    }
}

void CliUi::hideControl(Control control) {
    std::lock_guard lock(mutex_);
    shown_[control] = false;
    if (settings_.json) {
        emit(json{{"event", "view"}, {"control", controlName(control)}, {"shown", false}}.dump());
    }
}

void CliUi::setProgress(int value) {
    std::lock_guard lock(mutex_);
    if (value == lastProgress_) return;
    lastProgress_ = value;
    if (settings_.json) {
        json event{{"event", "progress"}, {"value", value}};
        if (remainingSeconds_ >= 0 && value >= 0) event["remainingSeconds"] = remainingSeconds_;
        emit(event.dump());
        return;
    }
    if (!isatty(fileno(settings_.err))) return;
    constexpr int kWidth = 40;
    // Back to the line's start and clear it: a shorter bar leaves nothing of a longer one.
    std::fputs("\r\033[K", settings_.err);
    if (value < 0) {
        std::fprintf(settings_.err, "[%s] working...", std::string(kWidth, '~').c_str());
    } else {
        int filled = value > 100 ? kWidth : value * kWidth / 100;
        std::fprintf(settings_.err, "[%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, '.').c_str(), value);
        if (remainingSeconds_ >= 0) {
            std::fprintf(settings_.err, "  %s", TimeRemaining_text(remainingSeconds_).c_str());
        }
    }
    std::fflush(settings_.err);
    progressLine_ = true;
}

void CliUi::setTimeRemaining(int seconds) {
    std::lock_guard lock(mutex_);
    remainingSeconds_ = seconds;
}

int CliUi::ask(const std::string& title, const std::string& message, int type) {
    finishProgress();
    lastBoxTitle_ = title;
    if (settings_.json) {
        emit(json{{"event", "messageBox"}, {"title", title}, {"message", message}, {"type", type}}
                 .dump());
    } else {
        std::fprintf(settings_.err, "\n== %s ==\n%s\n", title.c_str(), message.c_str());
    }
    if (type != AlertMessage::kTypeYesNo) return kFirstButton;
    int answer = kFirstButton;
    if (settings_.yes && !(settings_.warning && settings_.warning())) {
        answer = kSecondButton;
    } else if (settings_.terminal != nullptr) {
        std::fprintf(settings_.terminal, "Continue? [y/N] ");
        std::fflush(settings_.terminal);
        char line[64] = {};
        if (std::fgets(line, sizeof line, settings_.terminal) != nullptr &&
            (line[0] == 'y' || line[0] == 'Y')) {
            answer = kSecondButton;
        }
    }
    if (settings_.json) {
        emit(json{{"event", "answer"}, {"answer", answer == kSecondButton ? "Yes" : "No"}}.dump());
    } else {
        std::fprintf(settings_.err, "Answer: %s\n", answer == kSecondButton ? "Yes" : "No");
    }
    return answer;
}

int CliUi::messageBox(const std::string& title, const std::string& message, int type) {
    std::lock_guard lock(mutex_);
    return ask(title, message, type);
}

void CliUi::messageBoxNew(const AlertMessage& alert) {
    std::lock_guard lock(mutex_);
    ask(alert.getTitle(), alert.getMessage(), alert.getType());
}

void CliUi::showOutOfDateSheet(const std::string& message, const std::string& informative) {
    std::lock_guard lock(mutex_);
    if (settings_.json) {
        emit(json{{"event", "outOfDate"}, {"message", message}, {"informative", informative}}
                 .dump());
    } else {
        std::fprintf(settings_.err, "%s\n%s\n", message.c_str(), informative.c_str());
    }
}

void CliUi::showFirmwareChoices(const FirmwareChoices& choices) {
    std::lock_guard lock(mutex_);
    if (!settings_.json) return;
    json entries = json::array();
    for (size_t i = 0; i < choices.opt3.size(); ++i) {
        entries.push_back({{"id", choices.opt3[i]},
                           {"name", choiceName(choices, i)},
                           {"description", i < choices.opt5.size() ? choices.opt5[i] : ""}});
    }
    const char* control = choices.shown == ChoiceControl::Opt1   ? "opt1"
                          : choices.shown == ChoiceControl::Opt2 ? "opt2"
                          : choices.shown == ChoiceControl::Opt4 ? "opt4"
                                                                 : "none";
    emit(json{{"event", "choices"}, {"control", control}, {"choices", entries}}.dump());
}

void CliUi::openAddress(const std::string& address) {
    std::lock_guard lock(mutex_);
    lastAddress_ = address;
    if (settings_.json) emit(json{{"event", "open"}, {"address", address}}.dump());
    if (settings_.openInBrowser) settings_.openInBrowser(address);
}

std::string CliUi::text(Line line) {
    std::lock_guard lock(mutex_);
    return texts_[line];
}

Colour CliUi::colour(Line line) {
    std::lock_guard lock(mutex_);
    auto it = colours_.find(line);
    return it == colours_.end() ? Colour::Black : it->second;
}

bool CliUi::enabled(Control control) {
    std::lock_guard lock(mutex_);
    return enabled_[control];
}

bool CliUi::shown(Control control) {
    std::lock_guard lock(mutex_);
    auto it = shown_.find(control);
    return it == shown_.end() ? true : it->second;
}

std::string CliUi::lastAddress() {
    std::lock_guard lock(mutex_);
    return lastAddress_;
}

std::string CliUi::lastBoxTitle() {
    std::lock_guard lock(mutex_);
    return lastBoxTitle_;
}

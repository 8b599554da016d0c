// A UI port for tests: records every call in order and answers questions from a script.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "workflows/updater_ui.h"

class RecordingUi : public UpdaterUi {
  public:
    struct Box {
        std::string title, message;
        int type;
    };

    // Answers for the next questions, in order; an unscripted question is answered No.
    void scriptAnswers(std::initializer_list<int> answers) {
        std::lock_guard lock(mutex_);
        answers_.insert(answers_.end(), answers);
    }

    void setText(Line line, const std::string& text) override {
        record(std::string(lineName(line)) + "=" + text);
        std::lock_guard lock(mutex_);
        texts_[line] = text;
    }
    void setColour(Line line, Colour colour) override {
        record(std::string(lineName(line)) + ".colour=" + colourName(colour));
        std::lock_guard lock(mutex_);
        colours_[line] = colour;
    }
    std::string messageText() override { return text(Line::Msg); }
    void enableButton(Control c) override { flag(enabled_, c, true, "enable "); }
    void disableButton(Control c) override { flag(enabled_, c, false, "disable "); }
    void showControl(Control c) override { flag(shown_, c, true, "show "); }
    void hideControl(Control c) override { flag(shown_, c, false, "hide "); }
    void setProgress(int value) override {
        std::lock_guard lock(mutex_);
        progress_.push_back(value);
    }
    int messageBox(const std::string& title, const std::string& message, int type) override {
        record("box " + title);
        std::lock_guard lock(mutex_);
        boxes_.push_back({title, message, type});
        if (type != 2 || answers_.empty()) return kFirstButton;
        int answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    void messageBoxNew(const AlertMessage& alert) override {
        messageBox(alert.getTitle(), alert.getMessage(), alert.getType());
    }
    void showOutOfDateSheet(const std::string&, const std::string&) override { record("sheet"); }
    void showFirmwareChoices(const FirmwareChoices& choices) override {
        record("choices");
        std::lock_guard lock(mutex_);
        choices_ = choices;
    }
    void openAddress(const std::string& address) override { record("open " + address); }

    std::vector<std::string> calls() {
        return locked([&] { return calls_; });
    }
    std::vector<Box> boxes() {
        return locked([&] { return boxes_; });
    }
    std::vector<int> progress() {
        return locked([&] { return progress_; });
    }
    std::string text(Line line) {
        return locked([&] { return texts_[line]; });
    }
    Colour colour(Line line) {
        return locked([&] { return colours_.contains(line) ? colours_[line] : Colour::Black; });
    }
    // Buttons start enabled and controls shown, as in a fresh window.
    bool enabled(Control c) { return state(enabled_, c); }
    bool shown(Control c) { return state(shown_, c); }
    FirmwareChoices choices() {
        return locked([&] { return choices_; });
    }

  private:
    void record(const std::string& call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
    }
    void flag(std::map<Control, bool>& map, Control c, bool value, const char* verb) {
        record(verb + std::string(controlName(c)));
        std::lock_guard lock(mutex_);
        map[c] = value;
    }
    bool state(std::map<Control, bool>& map, Control c) {
        return locked([&] { return !map.contains(c) || map[c]; });
    }
    template <typename F>
    std::invoke_result_t<F> locked(F f) {
        std::lock_guard lock(mutex_);
        return f();
    }

    std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<Box> boxes_;
    std::vector<int> progress_;
    std::deque<int> answers_;
    std::map<Line, std::string> texts_;
    std::map<Line, Colour> colours_;
    std::map<Control, bool> enabled_;
    std::map<Control, bool> shown_;
    FirmwareChoices choices_;
};

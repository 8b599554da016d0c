// A UI port for tests: records every call in order and answers questions from a script.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
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
        std::lock_guard lock(mutex_);
        calls_.push_back(std::string(lineName(line)) + "=" + text);
        texts_[line] = text;
    }
    void setColour(Line line, Colour colour) override {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::string(lineName(line)) + ".colour=" + colourName(colour));
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
        std::lock_guard lock(mutex_);
        calls_.push_back("box " + title);
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
    void showFirmwareChoices(const FirmwareChoices&) override { record("choices"); }
    void openAddress(const std::string& address) override { record("open " + address); }
    void holdInput(bool held) override { record(held ? "hold" : "release"); }

    std::vector<std::string> calls() { return copy(calls_); }
    std::vector<Box> boxes() { return copy(boxes_); }
    std::vector<int> progress() { return copy(progress_); }
    std::string text(Line line) { return copy(texts_)[line]; }
    Colour colour(Line line) { return copy(colours_)[line]; }  // Black until set
    // Buttons start enabled and controls shown, as in a fresh window.
    bool enabled(Control c) { return state(enabled_, c); }
    bool shown(Control c) { return state(shown_, c); }

  private:
    void record(const std::string& call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
    }
    void flag(std::map<Control, bool>& map, Control c, bool value, const char* verb) {
        std::lock_guard lock(mutex_);
        calls_.push_back(verb + std::string(controlName(c)));
        map[c] = value;
    }
    bool state(std::map<Control, bool>& map, Control c) {
        std::lock_guard lock(mutex_);
        return !map.contains(c) || map[c];
    }
    template <typename T>
    T copy(const T& value) {
        std::lock_guard lock(mutex_);
        return value;
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
};

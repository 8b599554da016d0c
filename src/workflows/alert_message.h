#pragma once

#include <string>
#include <utility>

// What a workflow asks the main thread to show in a message box.
class AlertMessage {
  public:
    static constexpr int kTypeOk = 1;     // one button, "Ok"
    static constexpr int kTypeYesNo = 2;  // "No" then "Yes"

    AlertMessage() = default;
    AlertMessage(std::string title, std::string message, int type) {
        setTitle(std::move(title), std::move(message), type);
    }
    void setTitle(std::string title, std::string message, int type) {
        title_ = std::move(title);
        message_ = std::move(message);
        type_ = type;
    }
    const std::string& getTitle() const { return title_; }
    const std::string& getMessage() const { return message_; }
    int getType() const { return type_; }

  private:
    std::string title_;
    std::string message_;
    int type_ = 0;
};

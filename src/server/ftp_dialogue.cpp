#include "server/ftp_dialogue.h"

#include <string_view>

namespace {

bool isReply(std::string_view line) {
    return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && line[1] >= '0' &&
           line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
}

int follow(CURL*, curl_infotype type, char* data, size_t size, void* userData) {
    auto* dialogue = static_cast<FtpDialogue*>(userData);
    std::string_view text(data, size);
    if (type == CURLINFO_HEADER_OUT) {
        // Only the command word is looked at: the password never leaves this function.
        if (text.starts_with("USER ") || text.starts_with("PASS ")) dialogue->accountSent = true;
        return 0;
    }
    if (type != CURLINFO_HEADER_IN) return 0;
    // A proxy's "HTTP/1.1 200 ..." on the way to the server is no reply of the server's.
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        if (isReply(line)) dialogue->lastReply = std::string(line.substr(0, 200));
    }
    return 0;
}

}  // namespace

void FtpDialogue_watch(CURL* handle, FtpDialogue* dialogue) {
    curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, follow);
    curl_easy_setopt(handle, CURLOPT_DEBUGDATA, dialogue);
    // The debug function is only called in verbose mode; it takes all of it, so nothing is
    // printed.
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
}

int FtpDialogue_replyCode(const FtpDialogue& dialogue) {
    if (!isReply(dialogue.lastReply)) return 0;
    return (dialogue.lastReply[0] - '0') * 100 + (dialogue.lastReply[1] - '0') * 10 +
           (dialogue.lastReply[2] - '0');
}

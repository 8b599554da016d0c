#include "workflows/message_text.h"

std::string fillText(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    auto next = args.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            char kind = pattern[i + 1];
            if ((kind == '@' || kind == 's' || kind == 'd') && next != args.end()) {
                out.append(*next++);
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

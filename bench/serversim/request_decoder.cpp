#include "request_decoder.h"

#include <cstdint>

#include "core/pad_tables.h"

namespace {

int64_t keyValue(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{1} << 31);
    }
    value = negative ? -value : value;
    return std::min<int64_t>(value, INT32_MAX);
}

int64_t wrap(int64_t value, int64_t modulus) {
    return ((value % modulus) + modulus) % modulus;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // the client writes upper case only
}

}  // namespace

std::optional<DecodedRequest> decodeRequestBody(std::string_view body) {
    static constexpr std::string_view kKey = "key=";
    static constexpr std::string_view kRequest = "&request=";
    if (!body.starts_with(kKey)) return std::nullopt;
    size_t split = body.find(kRequest);
    if (split == std::string_view::npos) return std::nullopt;
    DecodedRequest decoded;
    decoded.keyText = std::string(body.substr(kKey.size(), split - kKey.size()));
    std::string_view encoded = body.substr(split + kRequest.size());
    if (encoded.size() % 3 != 0) return std::nullopt;

    int64_t key = keyValue(decoded.keyText);
    int64_t step = wrap(key, 2047) + 1;
    int64_t index = wrap(key, 2048);
    for (size_t i = 0; i < encoded.size(); i += 3) {
        int high = hexDigit(encoded[i + 1]);
        int low = hexDigit(encoded[i + 2]);
        if (encoded[i] != '%' || high < 0 || low < 0) return std::nullopt;
        auto scrambled = static_cast<uint8_t>(high * 16 + low);
        decoded.text += static_cast<char>(scrambled ^ requestPadTable[static_cast<size_t>(index)]);
        index = (index + step) % 2048;
    }

    size_t bar = decoded.text.find('|');
    if (bar == std::string::npos) {
        decoded.word = decoded.text;
        return decoded;
    }
    decoded.word = decoded.text.substr(0, bar + 1);
    std::string_view rest = std::string_view(decoded.text).substr(bar + 1);
    if (!rest.empty()) {
        size_t from = 0;
        while (true) {
            size_t next = rest.find('|', from);
            decoded.args.emplace_back(rest.substr(from, next - from));
            if (next == std::string_view::npos) break;
            from = next + 1;
        }
    }
    return decoded;
}

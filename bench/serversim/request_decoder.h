// The server's side of the scrambled request: "key=" + key text + "&request=" + "%XX"...
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct DecodedRequest {
    std::string keyText;  // as the client returned it
    std::string text;     // the request in clear
    std::string word;     // up to and including the first "|"
    std::vector<std::string> args;
};

// Nothing when the body is not such a form.
std::optional<DecodedRequest> decodeRequestBody(std::string_view body);

// Where the request encoder writes its line per request byte. The front end chooses the
// sink; an empty function keeps the library silent.
#pragma once

#include <cstdio>
#include <functional>
#include <string_view>

using RequestTraceFn = std::function<void(std::string_view line)>;

// Writes each line to `stream` (stdout for the window, stderr for the command line).
inline RequestTraceFn RequestTrace_toFile(std::FILE* stream) {
    return [stream](std::string_view line) { std::fwrite(line.data(), 1, line.size(), stream); };
}

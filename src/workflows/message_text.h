#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The name the user knows the tool by; every %@ that names the tool is filled with it.
inline constexpr const char* kDeviceName = "KTX2";

// Fills each %@, %s and %d of a message in turn with the next argument.
std::string fillText(std::string_view pattern, std::initializer_list<std::string_view> args);

#pragma once

#include <string>

// Where the bench programs were built, so tests and the demo can start them.
std::string benchBinary(const std::string& name);

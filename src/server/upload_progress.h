#pragma once

#include <functional>

// Receives the percentage of a long transfer, 0 to 100.
using ProgressFn = std::function<void(int percent)>;

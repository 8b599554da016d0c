// How long operations of the link tell how far they got.
#pragma once

#include <functional>

using ProgressFn = std::function<void(int percent)>;

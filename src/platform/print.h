#pragma once

#include "platform/platform.h"

namespace clipfile {

// Formatted printing to the platform's standard output.
[[gnu::format(printf, 2, 3)]] void Print(Platform& platform, const char* format, ...);

}  // namespace clipfile

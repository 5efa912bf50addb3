#pragma once

#include <memory>

#include "clipboard/platform.h"

namespace clipfile {

// The operating system's own platform: Win32 on Windows, the portable
// clipboard elsewhere. The build picks the implementation.
std::unique_ptr<Platform> CreateSystemPlatform();

}  // namespace clipfile

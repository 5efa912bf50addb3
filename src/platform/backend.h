#pragma once

#include <memory>

#include "platform/platform.h"

namespace clipfile {

// A back end owns the roles it is composed of.
class Backend {
public:
    virtual ~Backend() = default;
    virtual Platform& platform() = 0;
};

// The operating system's own back end: Win32 on Windows, the portable
// clipboard elsewhere. The build picks the implementation; null when it
// cannot be created.
std::unique_ptr<Backend> CreateSystemBackend();

}  // namespace clipfile

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

// The operating system's own back end: Win32 on Windows; elsewhere the X11
// clipboard or the portable one, as CLIPFILE_CLIPBOARD and DISPLAY choose.
// The build picks the implementation. Null when it cannot be created, with
// failure set to the line for standard error.
std::unique_ptr<Backend> CreateSystemBackend(const char*& failure);

}  // namespace clipfile

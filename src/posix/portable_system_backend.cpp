#include <memory>
#include <new>

#include "posix/portable_backend.h"

namespace clipfile {

// A build without the X11 clipboard has only the portable one.
std::unique_ptr<Backend> CreateSystemBackend(const char*& /*failure*/) {
    char location[kMaxLocationPath];
    if (!DefaultClipboardLocation(location, sizeof location)) {
        location[0] = '\0';
    }
    return std::unique_ptr<Backend>(new (std::nothrow) PortableBackend(location));
}

}  // namespace clipfile

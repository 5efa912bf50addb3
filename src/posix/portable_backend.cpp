#include "posix/portable_backend.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace clipfile {

bool DefaultClipboardLocation(char* path, std::size_t size) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const int length =
        runtime != nullptr && runtime[0] != '\0'
            ? std::snprintf(path, size, "%s/clipfile", runtime)
            : std::snprintf(path, size, "/tmp/clipfile-%lu", static_cast<unsigned long>(geteuid()));
    return length > 0 && static_cast<std::size_t>(length) < size;
}

std::unique_ptr<Backend> CreateSystemBackend() {
    char location[kMaxLocationPath];
    if (!DefaultClipboardLocation(location, sizeof location)) {
        location[0] = '\0';
    }
    return std::unique_ptr<Backend>(new (std::nothrow) PortableBackend(location));
}

}  // namespace clipfile

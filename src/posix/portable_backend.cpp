#include "posix/portable_backend.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace clipfile {

bool DefaultClipboardLocation(char* path, std::size_t size) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const int length =
        runtime != nullptr && runtime[0] != '\0'
            ? std::snprintf(path, size, "%s/clipfile", runtime)
            : std::snprintf(path, size, "/tmp/clipfile-%lu", static_cast<unsigned long>(geteuid()));
    return length > 0 && static_cast<std::size_t>(length) < size;
}

}  // namespace clipfile

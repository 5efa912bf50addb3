#pragma once

#include <cstddef>
#include <string_view>

#include "platform/backend.h"
#include "portable/portable_graphics.h"
#include "portable/stdio_console.h"
#include "posix/portable_clipboard.h"
#include "posix/portable_memory.h"
#include "posix/posix_files.h"

namespace clipfile {

// The clipboard folder for this user: $XDG_RUNTIME_DIR/clipfile, or
// /tmp/clipfile-<uid> when that variable is unset or empty. False when the
// path does not fit in size bytes.
bool DefaultClipboardLocation(char* path, std::size_t size);

// The portable clipboard in the folder at location, with heap global memory,
// the portable screen, POSIX files and the standard streams.
class PortableBackend final : public Backend {
public:
    explicit PortableBackend(std::string_view location)
        : memory(location, files), clipboard(location, memory, graphics) {}

    Platform& platform() override { return roles; }
    operator Platform&() { return roles; }  // NOLINT(google-explicit-constructor)

    StdioConsole console;
    PosixFiles files;
    PortableMemory memory;
    PortableGraphics graphics;
    PortableClipboard clipboard;
    Platform roles{console, clipboard, memory, graphics, files};
};

}  // namespace clipfile

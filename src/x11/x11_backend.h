#pragma once

#include <string_view>

#include "platform/backend.h"
#include "portable/portable_graphics.h"
#include "portable/stdio_console.h"
#include "posix/portable_memory.h"
#include "posix/posix_files.h"
#include "x11/x11_clipboard.h"

namespace clipfile {

// The X11 CLIPBOARD selection of a display, with the portable clipboard's
// memory, screen, files and console. location is the clipboard folder whose
// registered-format table names the selection's targets.
class X11Backend final : public Backend {
public:
    X11Backend(std::string_view location, const char* display)
        : clipboard(location, display, memory, graphics) {}

    Platform& platform() override { return roles; }

    StdioConsole console;
    PortableMemory memory;
    PortableGraphics graphics;
    PosixFiles files;
    X11Clipboard clipboard;
    Platform roles{console, clipboard, memory, graphics, files};
};

}  // namespace clipfile

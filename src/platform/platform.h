#pragma once

#include "platform/clipboard.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/global_memory.h"
#include "platform/graphics.h"

namespace clipfile {

// Everything the commands need of the operating system, one role each. A back
// end is a composition of roles; commands take it by reference, so a test can
// compose in-memory roles that fail on demand, or swap one role alone.
struct Platform {
    Console& console;
    Clipboard& clipboard;
    GlobalMemory& memory;
    Graphics& graphics;
    Files& files;
};

}  // namespace clipfile

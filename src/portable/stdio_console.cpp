#include "portable/stdio_console.h"

#include <cstdio>

namespace clipfile {

void StdioConsole::WriteOutput(std::string_view text) {
    // Flushed at once so that it keeps its place among unbuffered error text.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void StdioConsole::WriteError(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace clipfile

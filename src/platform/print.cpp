#include "platform/print.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace clipfile {

void Print(Platform& platform, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length > 0) {
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, args);
        text.pop_back();
        platform.console.WriteOutput(text);
    }
    va_end(args);
}

}  // namespace clipfile

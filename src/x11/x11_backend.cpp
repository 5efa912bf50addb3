#include "x11/x11_backend.h"

#include <cstdlib>
#include <memory>
#include <new>

#include "platform/messages.h"
#include "posix/portable_backend.h"
#include "x11/clipboard_choice.h"

namespace clipfile {

std::unique_ptr<Backend> CreateSystemBackend(const char*& failure) {
    const char* display = std::getenv("DISPLAY");
    const ClipboardChoice choice = ChooseClipboard(std::getenv("CLIPFILE_CLIPBOARD"), display);
    if (choice == ClipboardChoice::Unknown) {
        failure = message::kUnknownClipboardChoice;
        return nullptr;
    }
    char location[kMaxLocationPath];
    if (!DefaultClipboardLocation(location, sizeof location)) {
        location[0] = '\0';
    }
    if (choice == ClipboardChoice::X11) {
        return std::unique_ptr<Backend>(
            new (std::nothrow) X11Backend(location, display != nullptr ? display : ""));
    }
    return std::unique_ptr<Backend>(new (std::nothrow) PortableBackend(location));
}

}  // namespace clipfile

#include "x11/clipboard_choice.h"

#include <cstring>

namespace clipfile {

ClipboardChoice ChooseClipboard(const char* choice, const char* display) {
    if (choice != nullptr && std::strcmp(choice, "x11") == 0) {
        return ClipboardChoice::X11;
    }
    if (choice != nullptr && std::strcmp(choice, "portable") == 0) {
        return ClipboardChoice::Portable;
    }
    if (choice != nullptr && choice[0] != '\0' && std::strcmp(choice, "auto") != 0) {
        return ClipboardChoice::Unknown;
    }
    return display != nullptr && display[0] != '\0' ? ClipboardChoice::X11
                                                    : ClipboardChoice::Portable;
}

}  // namespace clipfile

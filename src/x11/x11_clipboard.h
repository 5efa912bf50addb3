#pragma once

#include <string_view>

#include "platform/clipboard.h"
#include "platform/global_memory.h"
#include "portable/portable_graphics.h"

namespace clipfile {

// The CLIPBOARD selection of an X display, in the calls of the Windows
// clipboard. Opening connects and asks the owner for its targets; each target
// is a format named by its atom name and numbered by the user's
// registered-format table (the portable clipboard's, in location). Text and
// image owners also list CF_TEXT and CF_UNICODETEXT, or CF_BITMAP and CF_DIB.
// What is set while open is handed at CloseClipboard to a background server
// that owns the selection.
class X11Clipboard final : public Clipboard {
public:
    X11Clipboard(std::string_view location, const char* display, GlobalMemory& memory,
                 PortableGraphics& graphics);
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;
    ~X11Clipboard() override;

    bool OpenClipboard() override;
    bool CloseClipboard() override;
    bool EmptyClipboard() override;
    FormatId EnumClipboardFormats(FormatId previous) override;
    int GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) override;
    bool IsClipboardFormatAvailable(FormatId id) override;
    DataHandle GetClipboardData(FormatId id) override;
    bool SetClipboardData(FormatId id, DataHandle data) override;
    FormatId RegisterClipboardFormatA(const char* name) override;

private:
    // Left to the implementation.
};

}  // namespace clipfile

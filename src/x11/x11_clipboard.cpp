#include "x11/x11_clipboard.h"

// Placeholder until the selection protocol lands: every call fails, as a
// clipboard that cannot be opened does.
namespace clipfile {

X11Clipboard::X11Clipboard(std::string_view, const char*, GlobalMemory&, PortableGraphics&) {}
X11Clipboard::~X11Clipboard() = default;
bool X11Clipboard::OpenClipboard() { return false; }
bool X11Clipboard::CloseClipboard() { return false; }
bool X11Clipboard::EmptyClipboard() { return false; }
FormatId X11Clipboard::EnumClipboardFormats(FormatId) { return 0; }
int X11Clipboard::GetClipboardFormatNameA(FormatId, char*, int) { return 0; }
bool X11Clipboard::IsClipboardFormatAvailable(FormatId) { return false; }
DataHandle X11Clipboard::GetClipboardData(FormatId) { return DataHandle::None; }
bool X11Clipboard::SetClipboardData(FormatId, DataHandle) { return false; }
FormatId X11Clipboard::RegisterClipboardFormatA(const char*) { return 0; }

}  // namespace clipfile

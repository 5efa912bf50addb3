#pragma once

namespace clipfile {

enum class ClipboardChoice { X11, Portable, Unknown };

// CLIPFILE_CLIPBOARD's value (null when unset) and DISPLAY's: "x11" and
// "portable" choose; unset, empty or "auto" means X11 when DISPLAY is set and
// not empty, the portable clipboard otherwise.
ClipboardChoice ChooseClipboard(const char* choice, const char* display);

}  // namespace clipfile

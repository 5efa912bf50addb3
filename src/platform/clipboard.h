#pragma once

#include "platform/types.h"

namespace clipfile {

// The clipboard, in the calls and shapes of the Windows clipboard.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // Opens for this process with no owner window.
    virtual bool OpenClipboard() = 0;
    virtual bool CloseClipboard() = 0;
    virtual bool EmptyClipboard() = 0;
    virtual FormatId EnumClipboardFormats(FormatId previous) = 0;
    virtual int GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) = 0;
    virtual bool IsClipboardFormatAvailable(FormatId id) = 0;
    virtual DataHandle GetClipboardData(FormatId id) = 0;
    // True when the clipboard took ownership of the handle.
    virtual bool SetClipboardData(FormatId id, DataHandle data) = 0;
    virtual FormatId RegisterClipboardFormatA(const char* name) = 0;
    // After EnumClipboardFormats returned 0: true when the formats could not
    // be read (an owner that did not answer), false when the list ended. A
    // clipboard that keeps its own list of formats never fails so.
    virtual bool FormatListFailed() { return false; }
};

}  // namespace clipfile

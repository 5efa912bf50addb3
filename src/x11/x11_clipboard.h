#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clipboard.h"
#include "platform/global_memory.h"
#include "portable/portable_graphics.h"
#include "x11/x11_connection.h"

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
    // Each wait for the owner: its answer, or the next chunk of a large one.
    static constexpr auto kConversionTimeout = std::chrono::seconds(2);

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
    bool FormatListFailed() override { return listFailed_; }

private:
    // What SetClipboardData took: a memory block, or a bitmap for CF_BITMAP.
    struct Placed {
        FormatId id = 0;
        DataHandle data = DataHandle::None;
    };
    // A target of the owner, or a name this process registered.
    struct Offered {
        FormatId id = 0;
        xcb_atom_t atom = XCB_ATOM_NONE;
        std::string name;
    };

    bool Connect();
    const std::vector<FormatId>& Listing();
    void ReadListing();
    const Offered* FindOffered(std::string_view name) const;
    DataHandle GetText(bool unicode);
    std::optional<DeviceBitmap> GetImage();
    DataHandle KeepHandedOut(MemoryHandle block);
    bool Publish();
    void ReleasePlaced();

    char location_[4096] = {};
    std::string display_;
    GlobalMemory& memory_;
    PortableGraphics& graphics_;
    x11::Connection conn_;
    bool unreachable_ = false;
    bool open_ = false;
    bool emptied_ = false;
    // The owner's formats, read once per opening.
    bool listed_ = false;
    // An owner that did not tell its targets.
    bool listFailed_ = false;
    std::vector<FormatId> listing_;
    std::vector<Offered> offered_;
    // Handed out by GetClipboardData, freed at CloseClipboard.
    std::vector<MemoryHandle> handedOut_;
    std::vector<BitmapHandle> handedOutBitmaps_;
    std::vector<Placed> placed_;
    // Names as this process registered them: a target keeps the caller's spelling.
    std::vector<Offered> registered_;
};

}  // namespace clipfile

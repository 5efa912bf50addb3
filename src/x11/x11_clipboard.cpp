#include "x11/x11_clipboard.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "posix/format_registry.h"
#include "posix/store_location.h"
#include "x11/selection_reader.h"
#include "x11/x11_targets.h"

namespace clipfile {

namespace {

// Short of the two seconds in which a command fails on a display it cannot reach.
constexpr auto kConnectTimeout = std::chrono::milliseconds(1500);

int CopyName(const std::string& name, char* buffer, int bufferSize) {
    if (buffer == nullptr || bufferSize <= 0) {
        return 0;
    }
    const std::size_t copied = std::min(name.size(), static_cast<std::size_t>(bufferSize) - 1);
    std::memcpy(buffer, name.data(), copied);
    buffer[copied] = '\0';
    return static_cast<int>(copied);
}

}  // namespace

X11Clipboard::X11Clipboard(std::string_view location, const char* display, GlobalMemory& memory,
                           PortableGraphics& graphics)
    : display_(display != nullptr ? display : ""), memory_(memory), graphics_(graphics) {
    if (location.size() < sizeof location_) {
        std::memcpy(location_, location.data(), location.size());
        location_[location.size()] = '\0';
    }
}

X11Clipboard::~X11Clipboard() {
    if (open_) {
        CloseClipboard();
    }
}

// One connection serves the whole command; a display that could not be
// reached is not tried again, so a command fails within one timeout.
bool X11Clipboard::Connect() {
    if (conn_ && !conn_.Failed()) {
        return true;
    }
    conn_.Disconnect();
    if (!unreachable_) {
        conn_ = x11::Connection::Open(display_.c_str(), kConnectTimeout);
        unreachable_ = !conn_;
    }
    return static_cast<bool>(conn_);
}

bool X11Clipboard::OpenClipboard() {
    if (open_ || !Connect()) {
        return false;
    }
    open_ = true;
    emptied_ = false;
    listed_ = false;
    return true;
}

bool X11Clipboard::CloseClipboard() {
    if (!open_) {
        return false;
    }
    open_ = false;
    for (const MemoryHandle block : handedOut_) {
        memory_.GlobalFree(block);
    }
    handedOut_.clear();
    for (const BitmapHandle bitmap : handedOutBitmaps_) {
        graphics_.DeleteObject(bitmap);
    }
    handedOutBitmaps_.clear();
    listed_ = false;
    if (!emptied_) {
        return true;
    }
    emptied_ = false;
    const bool published = Publish();
    ReleasePlaced();
    return published;
}

bool X11Clipboard::EmptyClipboard() {
    if (!open_) {
        return false;
    }
    ReleasePlaced();
    emptied_ = true;
    return true;
}

bool X11Clipboard::SetClipboardData(FormatId id, DataHandle data) {
    if (!open_ || id == 0 || data == DataHandle::None) {
        return false;
    }
    if (id == CF_BITMAP ? graphics_.Find(AsBitmap(data)) == nullptr
                        : memory_.GlobalLock(AsMemory(data)) == nullptr) {
        return false;
    }
    if (id != CF_BITMAP) {
        memory_.GlobalUnlock(AsMemory(data));
    }
    // Setting a format again replaces what it held.
    const auto same =
        std::find_if(placed_.begin(), placed_.end(), [&](const Placed& p) { return p.id == id; });
    if (same == placed_.end()) {
        placed_.push_back(Placed{id, data});
    } else {
        id == CF_BITMAP ? graphics_.DeleteObject(AsBitmap(same->data))
                        : memory_.GlobalFree(AsMemory(same->data));
        same->data = data;
    }
    emptied_ = true;
    return true;
}

void X11Clipboard::ReleasePlaced() {
    for (const Placed& p : placed_) {
        if (p.data == DataHandle::None) {
            continue;
        }
        if (p.id == CF_BITMAP) {
            graphics_.DeleteObject(AsBitmap(p.data));
        } else {
            memory_.GlobalFree(AsMemory(p.data));
        }
    }
    placed_.clear();
}

// CF_TEXT and CF_UNICODETEXT first when the owner offers text, CF_BITMAP and
// CF_DIB when it offers an image, then its targets in its order, numbered by
// the registered-format table.
void X11Clipboard::ReadListing() {
    listed_ = true;
    listing_.clear();
    offered_.clear();
    std::vector<x11::OfferedTarget> targets;
    listFailed_ =
        !Connect() || !x11::ReadOfferedTargets(conn_, memory_, kConversionTimeout, targets);
    if (listFailed_) {
        return;
    }
    const auto offers = [&](std::span<const char* const> names) {
        return std::any_of(targets.begin(), targets.end(), [&](const x11::OfferedTarget& t) {
            return x11::RankIn(names, t.name) >= 0;
        });
    };
    if (offers(x11::kTextTargets)) {
        listing_.insert(listing_.end(), {CF_TEXT, CF_UNICODETEXT});
    }
    if (offers(x11::kImageTargets)) {
        listing_.insert(listing_.end(), {CF_BITMAP, CF_DIB});
    }
    const UniqueFd dirFd = portable::OpenLocation(location_);
    for (const x11::OfferedTarget& target : targets) {
        FormatId id = 0;
        if (dirFd && !x11::IsProtocolTarget(target.name)) {
            id = portable::RegisterFormat(dirFd.get(), target.name.c_str());
        }
        // Names the table folds together are one format: the first is listed.
        if (id != 0 && std::find(listing_.begin(), listing_.end(), id) != listing_.end()) {
            id = 0;
        }
        if (id != 0) {
            listing_.push_back(id);
        }
        offered_.push_back(Offered{id, target.atom, target.name});
    }
}

const std::vector<FormatId>& X11Clipboard::Listing() {
    if (!listed_) {
        ReadListing();
    }
    return listing_;
}

FormatId X11Clipboard::EnumClipboardFormats(FormatId previous) {
    if (!open_) {
        return 0;
    }
    if (emptied_) {
        const auto at = std::find_if(placed_.begin(), placed_.end(),
                                     [&](const Placed& p) { return p.id == previous; });
        const auto next = previous == 0 ? placed_.begin() : at == placed_.end() ? at : at + 1;
        return next != placed_.end() ? next->id : 0;
    }
    const std::vector<FormatId>& listing = Listing();
    const auto at = std::find(listing.begin(), listing.end(), previous);
    const auto next = previous == 0 ? listing.begin() : at == listing.end() ? at : at + 1;
    return next != listing.end() ? *next : 0;
}

bool X11Clipboard::IsClipboardFormatAvailable(FormatId id) {
    if (open_ && emptied_) {
        return std::any_of(placed_.begin(), placed_.end(),
                           [&](const Placed& p) { return p.id == id; });
    }
    // Closed, the owner is asked anew.
    if (!open_) {
        listed_ = false;
    }
    const std::vector<FormatId>& listing = Listing();
    const bool found = id != 0 && std::find(listing.begin(), listing.end(), id) != listing.end();
    if (!open_) {
        listed_ = false;
    }
    return found;
}

int X11Clipboard::GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) {
    if (id < portable::kFirstRegisteredFormat || id > portable::kLastFormat) {
        return 0;
    }
    for (const Offered& target : offered_) {
        if (target.id == id) {
            return CopyName(target.name, buffer, bufferSize);
        }
    }
    const UniqueFd dirFd = portable::OpenLocation(location_);
    return dirFd ? portable::GetFormatName(dirFd.get(), id, buffer, bufferSize) : 0;
}

FormatId X11Clipboard::RegisterClipboardFormatA(const char* name) {
    const UniqueFd dirFd = portable::OpenLocation(location_);
    const FormatId id = dirFd ? portable::RegisterFormat(dirFd.get(), name) : 0;
    if (id != 0) {
        registered_.push_back(Offered{id, XCB_ATOM_NONE, name});
    }
    return id;
}

DataHandle X11Clipboard::KeepHandedOut(MemoryHandle block) {
    if (block == MemoryHandle::None) {
        return DataHandle::None;
    }
    handedOut_.push_back(block);
    return ToData(block);
}

const X11Clipboard::Offered* X11Clipboard::FindOffered(std::string_view name) const {
    for (const Offered& target : offered_) {
        if (target.name == name) {
            return &target;
        }
    }
    return nullptr;
}

}  // namespace clipfile

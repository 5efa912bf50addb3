#include <algorithm>
#include <cstring>
#include <utility>

#include "bmp/bmp_image.h"
#include "posix/format_registry.h"
#include "posix/store_location.h"
#include "util/utf_text.h"
#include "x11/png_image.h"
#include "x11/selection_server.h"
#include "x11/x11_clipboard.h"
#include "x11/x11_targets.h"

namespace clipfile {

namespace {

// Standard formats of plain bytes keep their Windows names as targets.
struct StandardName {
    FormatId id;
    const char* name;
};
constexpr StandardName kStandardNames[] = {
    {CF_SYLK, "CF_SYLK"},       {CF_DIF, "CF_DIF"},
    {CF_TIFF, "CF_TIFF"},       {CF_PENDATA, "CF_PENDATA"},
    {CF_RIFF, "CF_RIFF"},       {CF_WAVE, "CF_WAVE"},
    {CF_HDROP, "CF_HDROP"},     {CF_LOCALE, "CF_LOCALE"},
    {CF_DSPTEXT, "CF_DSPTEXT"}, {CF_OWNERDISPLAY, "CF_OWNERDISPLAY"},
};

// What the server is handed: the targets, and the conversions they point
// into, which live until the command exits (the server inherits them).
struct Publication {
    std::vector<x11::ServedTarget> targets;
    std::vector<HeapBuffer> owned;
    bool hasText = false;

    void AddText(std::span<const std::uint8_t> utf8) {
        if (hasText) {
            return;
        }
        hasText = true;
        for (const char* name : x11::kTextTargets) {
            // TEXT lets the owner choose the type; it is UTF-8 here.
            targets.push_back(
                x11::ServedTarget{name, std::strcmp(name, "TEXT") == 0 ? "UTF8_STRING" : "", utf8});
        }
    }
    void Add(const char* name, std::span<const std::uint8_t> bytes) {
        targets.push_back(x11::ServedTarget{name, "", bytes});
    }
    std::span<const std::uint8_t> Keep(HeapBuffer buffer, std::size_t size) {
        owned.push_back(std::move(buffer));
        return {owned.back().get(), size};
    }
};

// Text without the terminators Windows text blocks carry.
std::span<const std::uint8_t> WithoutTrailingZeros(std::span<const std::uint8_t> text,
                                                   std::size_t unit) {
    std::size_t size = text.size() / unit * unit;
    while (size >= unit && std::all_of(text.begin() + static_cast<std::ptrdiff_t>(size - unit),
                                       text.begin() + static_cast<std::ptrdiff_t>(size),
                                       [](std::uint8_t b) { return b == 0; })) {
        size -= unit;
    }
    return text.first(size);
}

bool AddUnicodeText(Publication& out, std::span<const std::uint8_t> utf16) {
    const std::optional<std::size_t> size = Utf8SizeOfUtf16Le(utf16);
    HeapBuffer utf8 = size ? AllocateHeapBuffer(*size) : HeapBuffer();
    if (!utf8) {
        return false;
    }
    Utf16LeToUtf8(utf16, {utf8.get(), *size});
    out.AddText(out.Keep(std::move(utf8), *size));
    return true;
}

bool AddImage(Publication& out, const DeviceBitmap& bitmap) {
    std::optional<EncodedImage> png = EncodePng(bitmap);
    std::optional<BmpFileImage> bmp = EncodeBmpFile(bitmap);
    if (!png || !bmp) {
        return false;
    }
    out.Add(x11::kImageTargets[0], out.Keep(std::move(png->bytes), png->size));
    out.Add(x11::kImageTargets[1], out.Keep(std::move(bmp->bytes), bmp->size));
    return true;
}

}  // namespace

// The targets of what was set, served by a new owner process. The bytes are
// served where they lie; only text in UTF-16 and images are converted.
bool X11Clipboard::Publish() {
    Publication out;
    std::vector<MemoryHandle> locked;
    bool ok = true;
    // What is converted is released before the server starts, which would
    // otherwise inherit it too.
    for (Placed& placed : placed_) {
        if (placed.id == CF_BITMAP) {
            const DeviceBitmap* bitmap = graphics_.Find(AsBitmap(placed.data));
            ok = bitmap != nullptr && AddImage(out, *bitmap);
            graphics_.DeleteObject(AsBitmap(std::exchange(placed.data, DataHandle::None)));
            if (!ok) {
                break;
            }
            continue;
        }
        const MemoryHandle block = AsMemory(placed.data);
        const auto* bytes = static_cast<const std::uint8_t*>(memory_.GlobalLock(block));
        if (bytes == nullptr) {
            ok = false;
            break;
        }
        const std::span<const std::uint8_t> data(bytes, memory_.GlobalSize(block));
        if (placed.id == CF_UNICODETEXT) {
            ok = AddUnicodeText(out, WithoutTrailingZeros(data, 2));
            memory_.GlobalUnlock(block);
            memory_.GlobalFree(AsMemory(std::exchange(placed.data, DataHandle::None)));
            if (!ok) {
                break;
            }
            continue;
        }
        locked.push_back(block);
        if (placed.id == CF_TEXT || placed.id == CF_OEMTEXT) {
            out.AddText(WithoutTrailingZeros(data, 1));
            continue;
        }
        std::string name;
        for (const Offered& registered : registered_) {
            if (registered.id == placed.id) {
                name = registered.name;
            }
        }
        for (const StandardName& standard : kStandardNames) {
            if (standard.id == placed.id) {
                name = standard.name;
            }
        }
        if (name.empty() && placed.id >= portable::kFirstRegisteredFormat) {
            char buffer[portable::kMaxFormatName + 1] = {};
            const UniqueFd dirFd = portable::OpenLocation(location_);
            if (dirFd &&
                portable::GetFormatName(dirFd.get(), placed.id, buffer, sizeof buffer) > 0) {
                name = buffer;
            }
        }
        if (name.empty()) {
            ok = false;
            break;
        }
        out.Add(name.c_str(), data);
    }
    if (ok) {
        // The server makes its own connection and shares no descriptor with this one.
        conn_.Disconnect();
        ok = x11::StartSelectionServer(display_.c_str(), out.targets);
    }
    for (const MemoryHandle block : locked) {
        memory_.GlobalUnlock(block);
    }
    return ok;
}

}  // namespace clipfile

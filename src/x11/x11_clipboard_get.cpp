#include <algorithm>
#include <cstring>
#include <utility>

#include "bmp/bmp_image.h"
#include "bmp/bmp_layout.h"
#include "util/utf_text.h"
#include "x11/png_image.h"
#include "x11/selection_reader.h"
#include "x11/x11_clipboard.h"
#include "x11/x11_targets.h"

namespace clipfile {

// The first text target, in the order of preference, that the owner converts.
DataHandle X11Clipboard::GetText(bool unicode) {
    for (const char* name : x11::kTextTargets) {
        const Offered* target = FindOffered(name);
        x11::Converted utf8;
        if (target == nullptr ||
            !x11::ConvertSelection(conn_, memory_, target->atom, unicode ? 0 : 1,
                                   kConversionTimeout, utf8)) {
            continue;
        }
        if (!unicode) {
            return KeepHandedOut(utf8.block);
        }
        const auto* bytes = static_cast<const std::uint8_t*>(memory_.GlobalLock(utf8.block));
        const std::span<const std::uint8_t> text(bytes, bytes != nullptr ? utf8.size : 0);
        const std::optional<std::size_t> size = Utf16LeSizeOfUtf8(text);
        MemoryHandle block = MemoryHandle::None;
        if (bytes != nullptr && size && *size <= SIZE_MAX - 2) {
            block = memory_.GlobalAlloc(*size + 2);
        }
        if (auto* out = static_cast<std::uint8_t*>(memory_.GlobalLock(block))) {
            Utf8ToUtf16Le(text, {out, *size});
            out[*size] = 0;
            out[*size + 1] = 0;
            memory_.GlobalUnlock(block);
        }
        memory_.GlobalUnlock(utf8.block);
        memory_.GlobalFree(utf8.block);
        return KeepHandedOut(block);
    }
    return DataHandle::None;
}

// PNG when the owner offers it, else the first BMP target it converts.
std::optional<DeviceBitmap> X11Clipboard::GetImage() {
    for (const char* name : x11::kImageTargets) {
        const Offered* target = FindOffered(name);
        x11::Converted file;
        if (target == nullptr ||
            !x11::ConvertSelection(conn_, memory_, target->atom, 0, kConversionTimeout, file)) {
            continue;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(memory_.GlobalLock(file.block));
        std::optional<DeviceBitmap> bitmap;
        if (bytes != nullptr) {
            const std::span<const std::uint8_t> image(bytes, file.size);
            bitmap = x11::RankIn(x11::kImageTargets, name) == 0 ? DecodePng(image)
                                                                : DecodeBmpFile(image);
            memory_.GlobalUnlock(file.block);
        }
        memory_.GlobalFree(file.block);
        if (bitmap) {
            return bitmap;
        }
    }
    return std::nullopt;
}

DataHandle X11Clipboard::GetClipboardData(FormatId id) {
    if (!open_ || id == 0) {
        return DataHandle::None;
    }
    if (emptied_) {
        const auto at = std::find_if(placed_.begin(), placed_.end(),
                                     [&](const Placed& p) { return p.id == id; });
        return at != placed_.end() ? at->data : DataHandle::None;
    }
    const std::vector<FormatId>& listing = Listing();
    if (std::find(listing.begin(), listing.end(), id) == listing.end()) {
        return DataHandle::None;
    }
    if (id == CF_TEXT || id == CF_UNICODETEXT) {
        return GetText(id == CF_UNICODETEXT);
    }
    if (id == CF_BITMAP || id == CF_DIB) {
        std::optional<DeviceBitmap> bitmap = GetImage();
        if (!bitmap) {
            return DataHandle::None;
        }
        if (id == CF_BITMAP) {
            handedOutBitmaps_.push_back(graphics_.Adopt(std::move(*bitmap)));
            return ToData(handedOutBitmaps_.back());
        }
        const std::size_t size = PackedDibSize(*bitmap, kInfoHeaderSize);
        const MemoryHandle block = memory_.GlobalAlloc(size);
        if (auto* out = static_cast<std::uint8_t*>(memory_.GlobalLock(block))) {
            WritePackedDib(*bitmap, kInfoHeaderSize, {out, size});
            memory_.GlobalUnlock(block);
            return KeepHandedOut(block);
        }
        memory_.GlobalFree(block);
        return DataHandle::None;
    }
    for (const Offered& target : offered_) {
        x11::Converted raw;
        if (target.id == id &&
            x11::ConvertSelection(conn_, memory_, target.atom, 0, kConversionTimeout, raw)) {
            return KeepHandedOut(raw.block);
        }
    }
    return DataHandle::None;
}

}  // namespace clipfile

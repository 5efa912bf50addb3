#pragma once

#include <cstddef>
#include <cstdint>

namespace clipfile {

using FormatId = std::uint32_t;

// Standard clipboard format numbers, as the platform defines them.
enum : FormatId {
    CF_TEXT = 1,
    CF_BITMAP = 2,
    CF_METAFILEPICT = 3,
    CF_SYLK = 4,
    CF_DIF = 5,
    CF_TIFF = 6,
    CF_OEMTEXT = 7,
    CF_DIB = 8,
    CF_PALETTE = 9,
    CF_PENDATA = 10,
    CF_RIFF = 11,
    CF_WAVE = 12,
    CF_UNICODETEXT = 13,
    CF_ENHMETAFILE = 14,
    CF_HDROP = 15,
    CF_LOCALE = 16,
    CF_DIBV5 = 17,
    CF_OWNERDISPLAY = 0x80,
    CF_DSPTEXT = 0x81,
    CF_DSPBITMAP = 0x82,
    CF_DSPMETAFILEPICT = 0x83,
    CF_DSPENHMETAFILE = 0x8E,
};

// Opaque platform handles. The value 0 is "no handle" for every kind.
enum class MemoryHandle : std::uintptr_t { None = 0 };
enum class BitmapHandle : std::uintptr_t { None = 0 };
enum class DcHandle : std::uintptr_t { None = 0 };
enum class FileHandle : std::uintptr_t { None = 0 };
// What GetClipboardData returns and SetClipboardData takes: a memory block for
// most formats, a bitmap for CF_BITMAP.
enum class DataHandle : std::uintptr_t { None = 0 };

constexpr DataHandle ToData(MemoryHandle h) { return static_cast<DataHandle>(h); }
constexpr DataHandle ToData(BitmapHandle h) { return static_cast<DataHandle>(h); }
constexpr MemoryHandle AsMemory(DataHandle h) { return static_cast<MemoryHandle>(h); }
constexpr BitmapHandle AsBitmap(DataHandle h) { return static_cast<BitmapHandle>(h); }

// The four values of a bitmap that the BMP exporter starts from.
struct BitmapDescription {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitsPerPixel = 0;
};

}  // namespace clipfile

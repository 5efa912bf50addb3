#include "win32/win32_roles.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "bmp/bmp_layout.h"
#include "util/checked_math.h"

namespace clipfile::win32 {

namespace {

// A 4-byte aligned copy of a caller's info block. GDI may read or write a
// colour table (or bit-field masks it was not asked for) past what the caller
// sized, so the calls work on this zero-padded copy instead of the original.
class InfoBlock {
public:
    static constexpr std::size_t kCapacity = 2048;

    InfoBlock(const std::uint8_t* info, std::size_t size) : size_(std::min(size, kCapacity)) {
        std::memcpy(bytes_, info, size_);
    }
    InfoBlock(const InfoBlock&) = delete;
    InfoBlock& operator=(const InfoBlock&) = delete;

    void CopyBack(std::uint8_t* info) const { std::memcpy(info, bytes_, size_); }
    BITMAPINFO* info() { return reinterpret_cast<BITMAPINFO*>(bytes_); }
    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(bytes_); }

private:
    alignas(8) unsigned char bytes_[kCapacity] = {};
    std::size_t size_;
};

// The bytes a DIB's colour table (or bit-field masks) occupies after its header.
std::uint64_t ColourTableBytes(const BITMAPINFOHEADER& header) {
    std::uint64_t bytes =
        std::uint64_t{kColourEntrySize} * ColourTableEntries(header.biBitCount, header.biClrUsed);
    if (header.biCompression == BI_BITFIELDS && header.biSize == kInfoHeaderSize) {
        bytes += kBitfieldMasksSize;
    }
    return bytes;
}

// Whether the info block holds the header and the colour table or masks GDI reads.
bool InfoFits(const BITMAPINFOHEADER& header, std::size_t infoSize) {
    return header.biSize >= kInfoHeaderSize && header.biSize <= kV5HeaderSize &&
           header.biBitCount != 0 && header.biBitCount <= 32 &&
           header.biSize + ColourTableBytes(header) <= infoSize;
}

// The bytes CreateDIBitmap reads from the pixel buffer; 0 when the header
// does not describe a bitmap it could read.
std::uint64_t PixelBytes(const BITMAPINFOHEADER& header) {
    if (header.biWidth <= 0 || header.biHeight == 0 || header.biPlanes != 1) {
        return 0;
    }
    if (header.biCompression == BI_RGB || header.biCompression == BI_BITFIELDS) {
        const std::int64_t height = header.biHeight;
        const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
        return CheckedMul(RowStride(static_cast<std::uint32_t>(header.biWidth), header.biBitCount),
                          rows)
            .value_or(std::numeric_limits<std::uint64_t>::max());
    }
    return header.biSizeImage;
}

}  // namespace

bool Win32Graphics::DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description) {
    const auto native = NativeCast<HBITMAP>(bitmap);
    if (::GetObjectType(native) != OBJ_BITMAP) {
        return false;
    }
    BITMAP object{};
    if (::GetObjectA(native, sizeof(BITMAP), &object) != static_cast<int>(sizeof(BITMAP))) {
        return false;
    }
    description.width = object.bmWidth;
    description.height = object.bmHeight;
    description.planes = object.bmPlanes;
    description.bitsPerPixel = object.bmBitsPixel;
    return true;
}

DcHandle Win32Graphics::CreateCompatibleDC() {
    return HandleCast<DcHandle>(::CreateCompatibleDC(nullptr));
}
void Win32Graphics::DeleteDC(DcHandle dc) { ::DeleteDC(NativeCast<HDC>(dc)); }
DcHandle Win32Graphics::GetScreenDC() { return HandleCast<DcHandle>(::GetDC(nullptr)); }
void Win32Graphics::ReleaseScreenDC(DcHandle dc) { ::ReleaseDC(nullptr, NativeCast<HDC>(dc)); }

int Win32Graphics::GetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                             std::uint32_t scanLines, void* bits, std::uint8_t* info,
                             std::size_t infoSize) {
    if (info == nullptr || infoSize < sizeof(BITMAPINFOHEADER)) {
        return 0;
    }
    InfoBlock block(info, infoSize);
    const int lines = ::GetDIBits(NativeCast<HDC>(dc), NativeCast<HBITMAP>(bitmap), startScan,
                                  scanLines, bits, block.info(), DIB_RGB_COLORS);
    block.CopyBack(info);
    return lines;
}

BitmapHandle Win32Graphics::CreateDIBitmap(DcHandle dc, const std::uint8_t* info,
                                           std::size_t infoSize, const std::uint8_t* bits,
                                           std::size_t bitsSize) {
    if (info == nullptr || bits == nullptr || infoSize < sizeof(BITMAPINFOHEADER)) {
        return BitmapHandle::None;
    }
    InfoBlock block(info, infoSize);
    const BITMAPINFOHEADER& header = *block.header();
    if (!InfoFits(header, infoSize)) {
        return BitmapHandle::None;
    }
    const std::uint64_t pixels = PixelBytes(header);
    if (pixels == 0 || pixels > bitsSize) {
        return BitmapHandle::None;
    }
    return HandleCast<BitmapHandle>(::CreateDIBitmap(NativeCast<HDC>(dc), block.header(), CBM_INIT,
                                                     bits, block.info(), DIB_RGB_COLORS));
}

BitmapHandle Win32Graphics::CreateCompatibleBitmap(DcHandle dc, std::int32_t width,
                                                   std::int32_t height) {
    return HandleCast<BitmapHandle>(::CreateCompatibleBitmap(NativeCast<HDC>(dc), width, height));
}

int Win32Graphics::SetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                             std::uint32_t scanLines, const void* bits, std::size_t bitsSize,
                             const std::uint8_t* info, std::size_t infoSize) {
    if (info == nullptr || bits == nullptr || infoSize < sizeof(BITMAPINFOHEADER)) {
        return 0;
    }
    InfoBlock block(info, infoSize);
    const BITMAPINFOHEADER& header = *block.header();
    if (!InfoFits(header, infoSize) || header.biHeight <= 0 || PixelBytes(header) == 0 ||
        (header.biCompression != BI_RGB && header.biCompression != BI_BITFIELDS)) {
        return 0;
    }
    // Every row the call may read lies within the band.
    const auto band = CheckedMul(
        RowStride(static_cast<std::uint32_t>(header.biWidth), header.biBitCount), scanLines);
    if (!band || *band > bitsSize) {
        return 0;
    }
    return ::SetDIBits(NativeCast<HDC>(dc), NativeCast<HBITMAP>(bitmap), startScan, scanLines, bits,
                       block.info(), DIB_RGB_COLORS);
}

void Win32Graphics::DeleteObject(BitmapHandle bitmap) {
    ::DeleteObject(NativeCast<HBITMAP>(bitmap));
}

}  // namespace clipfile::win32

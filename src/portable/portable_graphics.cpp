#include "portable/portable_graphics.h"

#include "bmp/bmp_layout.h"

namespace clipfile {

const DeviceBitmap* PortableGraphics::Find(BitmapHandle bitmap) const {
    const auto it = bitmaps_.find(static_cast<std::uintptr_t>(bitmap));
    return it != bitmaps_.end() ? &it->second : nullptr;
}

BitmapHandle PortableGraphics::Adopt(DeviceBitmap bitmap) {
    const std::uintptr_t handle = nextBitmap_++;
    bitmaps_.emplace(handle, std::move(bitmap));
    return static_cast<BitmapHandle>(handle);
}

bool PortableGraphics::DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description) {
    const DeviceBitmap* found = Find(bitmap);
    if (found == nullptr) {
        return false;
    }
    description = {found->width, found->height, 1, 32};
    return true;
}

// Device contexts carry no state here; they only have to be valid handles.
DcHandle PortableGraphics::CreateCompatibleDC() {
    ++liveDcs_;
    return static_cast<DcHandle>(nextDc_++);
}

void PortableGraphics::DeleteDC(DcHandle) { --liveDcs_; }

DcHandle PortableGraphics::GetScreenDC() { return CreateCompatibleDC(); }

void PortableGraphics::ReleaseScreenDC(DcHandle dc) { DeleteDC(dc); }

int PortableGraphics::GetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                                std::uint32_t scanLines, void* bits, std::uint8_t* info,
                                std::size_t infoSize) {
    const DeviceBitmap* found = Find(bitmap);
    if (dc == DcHandle::None || found == nullptr || bits == nullptr || infoSize < kInfoHeaderSize) {
        return 0;
    }
    // The caller sized the buffer by the header's biSizeImage.
    const BmpInfoHeader header = ReadInfoHeader({info, infoSize});
    return EncodeDibRows(*found, {info, infoSize}, startScan, scanLines,
                         {static_cast<std::uint8_t*>(bits), header.biSizeImage});
}

BitmapHandle PortableGraphics::CreateDIBitmap(DcHandle dc, const std::uint8_t* info,
                                              std::size_t infoSize, const std::uint8_t* bits,
                                              std::size_t bitsSize) {
    if (dc == DcHandle::None || info == nullptr || bits == nullptr) {
        return BitmapHandle::None;
    }
    auto decoded = DecodeDib({info, infoSize}, {bits, bitsSize});
    return decoded ? Adopt(std::move(*decoded)) : BitmapHandle::None;
}

BitmapHandle PortableGraphics::CreateCompatibleBitmap(DcHandle dc, std::int32_t width,
                                                      std::int32_t height) {
    if (dc == DcHandle::None) {
        return BitmapHandle::None;
    }
    auto bitmap = AllocateDeviceBitmap(width, height);
    return bitmap ? Adopt(std::move(*bitmap)) : BitmapHandle::None;
}

int PortableGraphics::SetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                                std::uint32_t scanLines, const void* bits, std::size_t bitsSize,
                                const std::uint8_t* info, std::size_t infoSize) {
    const auto it = bitmaps_.find(static_cast<std::uintptr_t>(bitmap));
    if (dc == DcHandle::None || it == bitmaps_.end() || bits == nullptr || info == nullptr ||
        infoSize < kInfoHeaderSize || ReadInfoHeader({info, infoSize}).biHeight <= 0) {
        return 0;
    }
    return DecodeDibRows(it->second, {info, infoSize}, startScan, scanLines,
                         {static_cast<const std::uint8_t*>(bits), bitsSize});
}

void PortableGraphics::DeleteObject(BitmapHandle bitmap) {
    bitmaps_.erase(static_cast<std::uintptr_t>(bitmap));
}

}  // namespace clipfile

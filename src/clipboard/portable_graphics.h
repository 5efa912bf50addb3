#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "bmp/dib_codec.h"
#include "clipboard/platform.h"

namespace clipfile {

// Graphics for the portable platform: a screen of 32 bits per pixel whose
// bitmaps live in this process, addressed by handles.
class PortableGraphics {
public:
    bool DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description);
    DcHandle CreateCompatibleDC();
    void DeleteDC(DcHandle dc);
    DcHandle GetScreenDC();
    void ReleaseScreenDC(DcHandle dc);
    int GetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                  std::uint32_t scanLines, void* bits, std::uint8_t* info, std::size_t infoSize);
    BitmapHandle CreateDIBitmap(DcHandle dc, const std::uint8_t* info, std::size_t infoSize,
                                const std::uint8_t* bits, std::size_t bitsSize);
    void DeleteObject(BitmapHandle bitmap);

    // For the clipboard: the bitmap behind a handle (null when unknown), and a
    // new handle for a bitmap read back from the clipboard.
    const DeviceBitmap* Find(BitmapHandle bitmap) const;
    BitmapHandle Adopt(DeviceBitmap bitmap);

private:
    std::unordered_map<std::uintptr_t, DeviceBitmap> bitmaps_;
    std::uintptr_t nextBitmap_ = 1;
    std::uintptr_t nextDc_ = 1;
    int liveDcs_ = 0;
};

}  // namespace clipfile

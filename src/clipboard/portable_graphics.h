#pragma once

#include <cstddef>
#include <cstdint>

#include "clipboard/platform.h"

namespace clipfile {

// Graphics for the portable clipboard. There is no graphics device behind it
// yet, so every operation fails and bitmap commands report an error rather
// than produce a wrong image.
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
};

}  // namespace clipfile

#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace clipfile {

// Device-dependent bitmaps and the device contexts that convert them. Info
// blocks are a 40-byte BITMAPINFOHEADER followed by its colour table; the
// sizes let an implementation stay within them.
class Graphics {
public:
    virtual ~Graphics() = default;

    virtual bool DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description) = 0;
    virtual DcHandle CreateCompatibleDC() = 0;
    virtual void DeleteDC(DcHandle dc) = 0;
    virtual DcHandle GetScreenDC() = 0;
    virtual void ReleaseScreenDC(DcHandle dc) = 0;
    // DIB_RGB_COLORS. Returns the number of scan lines read, 0 on failure.
    virtual int GetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                          std::uint32_t scanLines, void* bits, std::uint8_t* info,
                          std::size_t infoSize) = 0;
    // CBM_INIT with DIB_RGB_COLORS; the header is the start of the info block.
    virtual BitmapHandle CreateDIBitmap(DcHandle dc, const std::uint8_t* info, std::size_t infoSize,
                                        const std::uint8_t* bits, std::size_t bitsSize) = 0;
    // A bitmap of the DC's format; its pixels are undefined until set.
    virtual BitmapHandle CreateCompatibleBitmap(DcHandle dc, std::int32_t width,
                                                std::int32_t height) = 0;
    // DIB_RGB_COLORS, from an uncompressed bottom-up DIB of the bitmap's size
    // (systems number a top-down one's scan lines differently): bits, of
    // bitsSize bytes, holds scanLines rows from scan line startScan up.
    // Returns the number of lines set, 0 on failure.
    virtual int SetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                          std::uint32_t scanLines, const void* bits, std::size_t bitsSize,
                          const std::uint8_t* info, std::size_t infoSize) = 0;
    virtual void DeleteObject(BitmapHandle bitmap) = 0;
};

}  // namespace clipfile

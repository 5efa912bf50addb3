#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "bmp/dib_codec.h"
#include "platform/graphics.h"

namespace clipfile {

// Graphics for the portable platform: a screen of 32 bits per pixel whose
// bitmaps live in this process, addressed by handles.
class PortableGraphics final : public Graphics {
public:
    bool DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description) override;
    DcHandle CreateCompatibleDC() override;
    void DeleteDC(DcHandle dc) override;
    DcHandle GetScreenDC() override;
    void ReleaseScreenDC(DcHandle dc) override;
    int GetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                  std::uint32_t scanLines, void* bits, std::uint8_t* info,
                  std::size_t infoSize) override;
    BitmapHandle CreateDIBitmap(DcHandle dc, const std::uint8_t* info, std::size_t infoSize,
                                const std::uint8_t* bits, std::size_t bitsSize) override;
    BitmapHandle CreateCompatibleBitmap(DcHandle dc, std::int32_t width,
                                        std::int32_t height) override;
    int SetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                  std::uint32_t scanLines, const void* bits, std::size_t bitsSize,
                  const std::uint8_t* info, std::size_t infoSize) override;
    void DeleteObject(BitmapHandle bitmap) override;

    // For the clipboard: the bitmap behind a handle (null when unknown), and a
    // new handle for a bitmap read back from the clipboard.
    const DeviceBitmap* Find(BitmapHandle bitmap) const;
    BitmapHandle Adopt(DeviceBitmap bitmap);
    int LiveDcs() const { return liveDcs_; }

private:
    std::unordered_map<std::uintptr_t, DeviceBitmap> bitmaps_;
    std::uintptr_t nextBitmap_ = 1;
    std::uintptr_t nextDc_ = 1;
    int liveDcs_ = 0;
};

}  // namespace clipfile

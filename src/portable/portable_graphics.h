#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>

#include "bmp/dib_codec.h"
#include "platform/graphics.h"

namespace clipfile {

// Where a clipboard keeps the pixels of a bitmap it hands out (rows as a
// device bitmap has them), so that they are read once, when and where they
// are needed, rather than held in this process twice.
class StoredPixels {
public:
    // The pixel bytes [at, at + out.size()) of the bitmap stored at origin.
    virtual bool ReadStoredPixels(std::uint64_t origin, std::uint64_t at,
                                  std::span<std::uint8_t> out) = 0;

protected:
    ~StoredPixels() = default;
};

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

    // For the clipboard: the bitmap behind a handle, its pixels read in when
    // still stored (null when unknown or unreadable); a new handle for a
    // bitmap read back from the clipboard; and one whose pixels stay in the
    // store until asked for, which must outlive the handle.
    const DeviceBitmap* Find(BitmapHandle bitmap);
    BitmapHandle Adopt(DeviceBitmap bitmap);
    BitmapHandle AdoptStored(std::int32_t width, std::int32_t height, StoredPixels& store,
                             std::uint64_t origin);
    int LiveDcs() const { return liveDcs_; }

private:
    struct Record {
        DeviceBitmap bitmap;
        StoredPixels* store = nullptr;
        std::uint64_t origin = 0;
    };
    Record* Lookup(BitmapHandle bitmap);

    std::unordered_map<std::uintptr_t, Record> bitmaps_;
    std::uintptr_t nextBitmap_ = 1;
    std::uintptr_t nextDc_ = 1;
    int liveDcs_ = 0;
};

}  // namespace clipfile

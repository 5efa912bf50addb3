#include "portable/portable_graphics.h"

#include <utility>

#include "bmp/bmp_layout.h"

namespace clipfile {

PortableGraphics::Record* PortableGraphics::Lookup(BitmapHandle bitmap) {
    const auto it = bitmaps_.find(static_cast<std::uintptr_t>(bitmap));
    return it != bitmaps_.end() ? &it->second : nullptr;
}

const DeviceBitmap* PortableGraphics::Find(BitmapHandle bitmap) {
    Record* found = Lookup(bitmap);
    if (found == nullptr) {
        return nullptr;
    }
    DeviceBitmap& device = found->bitmap;
    if (!device.pixels) {
        // Not cleared first: the read fills every byte, or the pixels go.
        HeapBuffer pixels = AllocateHeapBuffer(device.size(), false);
        if (!pixels || found->store == nullptr ||
            !found->store->ReadStoredPixels(found->origin, 0, {pixels.get(), device.size()})) {
            return nullptr;
        }
        device.pixels = std::move(pixels);
    }
    return &device;
}

BitmapHandle PortableGraphics::Adopt(DeviceBitmap bitmap) {
    const std::uintptr_t handle = nextBitmap_++;
    bitmaps_.emplace(handle, Record{std::move(bitmap), nullptr, 0});
    return static_cast<BitmapHandle>(handle);
}

BitmapHandle PortableGraphics::AdoptStored(std::int32_t width, std::int32_t height,
                                           StoredPixels& store, std::uint64_t origin) {
    const std::uintptr_t handle = nextBitmap_++;
    bitmaps_.emplace(handle, Record{DeviceBitmap{width, height, {}}, &store, origin});
    return static_cast<BitmapHandle>(handle);
}

bool PortableGraphics::DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description) {
    const Record* found = Lookup(bitmap);
    if (found == nullptr) {
        return false;
    }
    description = {found->bitmap.width, found->bitmap.height, 1, 32};
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
    Record* found = Lookup(bitmap);
    if (dc == DcHandle::None || found == nullptr || bits == nullptr || infoSize < kInfoHeaderSize) {
        return 0;
    }
    // The caller sized the buffer by the header's biSizeImage.
    const BmpInfoHeader header = ReadInfoHeader({info, infoSize});
    const std::span<std::uint8_t> out(static_cast<std::uint8_t*>(bits), header.biSizeImage);
    const DeviceBitmap& device = found->bitmap;
    // Bottom-up 32-bit rows are the stored rows themselves: read straight
    // into the caller's buffer, the pixels never pass through this process
    // twice.
    const auto plan = PlanDibRows(device.width, device.height, {info, infoSize}, startScan,
                                  scanLines, out.size());
    if (!device.pixels && found->store != nullptr && plan && plan->depth == 32 && !plan->topDown) {
        const std::uint64_t bytes = plan->stride * plan->lines;
        return found->store->ReadStoredPixels(found->origin, plan->stride * startScan,
                                              out.first(static_cast<std::size_t>(bytes)))
                   ? static_cast<int>(plan->lines)
                   : 0;
    }
    const DeviceBitmap* loaded = Find(bitmap);
    return loaded != nullptr ? EncodeDibRows(*loaded, {info, infoSize}, startScan, scanLines, out)
                             : 0;
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
    Record* found = Lookup(bitmap);
    // A stored bitmap's pixels are read in before some of them change.
    if (dc == DcHandle::None || found == nullptr || Find(bitmap) == nullptr || bits == nullptr ||
        info == nullptr || infoSize < kInfoHeaderSize ||
        ReadInfoHeader({info, infoSize}).biHeight <= 0) {
        return 0;
    }
    return DecodeDibRows(found->bitmap, {info, infoSize}, startScan, scanLines,
                         {static_cast<const std::uint8_t*>(bits), bitsSize});
}

void PortableGraphics::DeleteObject(BitmapHandle bitmap) {
    bitmaps_.erase(static_cast<std::uintptr_t>(bitmap));
}

}  // namespace clipfile

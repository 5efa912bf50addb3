// Sizes at the edge of a 32-bit address space: they matter most in the host32
// build, where size_t has 32 bits, and hold at any width.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "bmp/bmp.h"
#include "bmp/dib_codec.h"
#include "cli/dispatch.h"
#include "fake_platform.h"
#include "portable/heap_memory.h"
#include "util/byte_order.h"

namespace clipfile {
namespace {

using testing::BmpFile;
using testing::Bytes;
using testing::FakePlatform;
using testing::Op;

// Each header's pixels take 4 GiB or more; counted in 32 bits they shrink to
// what the file then holds, so a check done in 32 bits would take the file.
TEST(SizeLimits, BitmapWhosePixelsOverflowThirtyTwoBitsIsRefusedUnallocated) {
    struct Case {
        std::int32_t width, height;
        std::uint16_t bits;
    };
    const Case cases[] = {
        {65536, 16385, 32},   // 4 GiB + 256 KiB
        {65536, -16385, 32},  // the same, top-down
        {8192, 131073, 32},   // 4 GiB + 32 KiB
        {65536, 21846, 24},   // 4 GiB + 128 KiB
        {0x40000000, 1, 32},  // one row of 4 GiB
        {0x7FFFFFFF, 16, 1},  // 4 GiB of 1-bit rows
    };
    for (const Case& c : cases) {
        const std::string label =
            std::to_string(c.width) + "x" + std::to_string(c.height) + "x" + std::to_string(c.bits);
        const Bytes file = BmpFile(c.width, c.height, c.bits, 0);
        FakePlatform platform;
        platform.Place(CF_TEXT, {'k', 0});
        platform.files["in.bmp"].bytes = file;
        DispatchCommand(platform, "PUTDATA", "CF_BITMAP", "in.bmp");
        EXPECT_EQ(platform.output,
                  "\n * The \"in.bmp\" file is not a supported or complete bitmap. * \n"
                  "\n\n * Couldn't able to transfer the contents of \"in.bmp\" file into "
                  "Clipboard. * \n")
            << label;
        // One block for the file's own bytes, none for the pixels it claims.
        EXPECT_EQ(platform.calls[Op::GlobalAlloc], 1) << label;
        EXPECT_EQ(platform.calls[Op::CreateDIBitmap], 0) << label;
        EXPECT_EQ(platform.Formats(), std::vector<FormatId>{CF_TEXT}) << label;
        EXPECT_EQ(platform.LiveMemoryBlocks(), 1U) << label;
        // The portable screen makes its bitmaps with DecodeDib: it refuses them too.
        const std::span<const std::uint8_t> info = std::span(file).subspan(14);
        const std::size_t offBits = ReadLe32(file.data() + 10);
        EXPECT_FALSE(DecodeDib(info, std::span(file).subspan(offBits))) << label;
    }
}

// GETDATA takes a clipboard block and a copy of it from these two; near the top
// of the address space each either refuses or hands out the whole size (the
// rounding to 2 MiB pages must not wrap to a small mapping).
TEST(SizeLimits, BlocksNearTheTopOfTheAddressSpaceAreWholeOrRefused) {
    constexpr std::size_t kMax = SIZE_MAX;
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t sizes[] = {kMax,
                                 kMax - 1,
                                 kMax - kHugePage + 2,
                                 kMax - 2 * kHugePage,
                                 kMax - 2 * kHugePage - 1,
                                 kMax / 4 * 3,
                                 kMax / 2 + 1};
    for (const std::size_t size : sizes) {
        if (HeapBuffer buffer = AllocateHeapBuffer(size)) {
            buffer[size - 1] = 1;
            EXPECT_EQ(buffer[size - 1], 1) << size;
        }
        HeapGlobalMemory memory;
        const MemoryHandle block = memory.Alloc(size);
        if (block != MemoryHandle::None) {
            EXPECT_EQ(memory.Size(block), size);
            EXPECT_EQ(memory.Bytes(block).size(), size);
            memory.Bytes(block)[size - 1] = 1;
        }
    }
}

// A block that grows while it is filled (the X11 clipboard's incremental
// reads) keeps its bytes across the heap, the mappings and back, and a size
// that cannot be had leaves it whole.
TEST(SizeLimits, ResizedBlocksKeepTheirBytes) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    const std::size_t steps[] = {0,        100, 3 * kMiB,    64 * kMiB, 64 * kMiB + 5,
                                 6 * kMiB, 10,  SIZE_MAX - 1};
    HeapGlobalMemory memory;
    const MemoryHandle block = memory.Alloc(1);
    ASSERT_NE(block, MemoryHandle::None);
    std::size_t size = 1;
    memory.Bytes(block)[0] = 0x5A;
    for (const std::size_t next : steps) {
        const std::size_t filled = size;
        const bool resized = memory.ReAlloc(block, next);
        EXPECT_EQ(resized, next != SIZE_MAX - 1) << next;
        size = resized ? next : size;
        ASSERT_EQ(memory.Size(block), size) << next;
        const std::span<unsigned char> bytes = memory.Bytes(block);
        const std::size_t kept = filled < size ? filled : size;
        for (std::size_t at = 0; at < kept; at += 4093) {
            EXPECT_EQ(bytes[at], at == 0 ? 0x5A : static_cast<unsigned char>(at))
                << next << " at " << at;
        }
        for (std::size_t at = 4093; at < size; at += 4093) {
            bytes[at] = static_cast<unsigned char>(at);
        }
        if (size != 0) {
            bytes[0] = 0x5A;
        }
    }
}

}  // namespace
}  // namespace clipfile

// Sets the stage for bench/run.sh, through the same platform code as clipfile:
//   bench_helper                        does nothing (start-up reference)
//   bench_helper formats                places 10 formats on the clipboard
//   bench_helper bmp WIDTH HEIGHT FILE  writes a 32-bit BMP picture
//   bench_helper warm MIB               takes and fills MIB MiB of memory the
//                                       way clipfile's large buffers do, then
//                                       gives it back
// Built with clipfile, as the target bench_helper.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/backend.h"
#include "platform/handles.h"
#include "util/heap_buffer.h"

namespace {

using namespace clipfile;

void PutLe(unsigned char* out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

bool PlaceBlock(Platform& platform, FormatId id, const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    UniqueMemoryBlock block(platform, platform.memory.GlobalAlloc(size));
    MemoryLock lock(platform, block.get());
    if (!block || !lock) {
        return false;
    }
    std::memcpy(lock.bytes(), text, size);
    lock.Unlock();
    if (!platform.clipboard.SetClipboardData(id, ToData(block.get()))) {
        return false;
    }
    block.release();
    return true;
}

// Standard formats that no platform derives others from, then registered
// ones, so that GETTYPES lists exactly ten and looks up seven names.
int PlaceFormats(Platform& platform) {
    const FormatId standard[] = {CF_SYLK, CF_DIF, CF_RIFF};
    FormatId ids[10] = {};
    int count = 0;
    for (const FormatId id : standard) {
        ids[count++] = id;
    }
    for (int i = 1; count < 10; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Bench Format %d", i);
        ids[count] = platform.clipboard.RegisterClipboardFormatA(name);
        if (ids[count++] == 0) {
            std::fprintf(stderr, "cannot register %s\n", name);
            return 1;
        }
    }
    OpenClipboardSession clipboard(platform);
    if (!clipboard || !platform.clipboard.EmptyClipboard()) {
        std::fprintf(stderr, "cannot open and empty the clipboard\n");
        return 1;
    }
    for (const FormatId id : ids) {
        if (!PlaceBlock(platform, id, "bench data")) {
            std::fprintf(stderr, "cannot place format %u\n", static_cast<unsigned>(id));
            return 1;
        }
    }
    return clipboard.Close() ? 0 : 1;
}

// Bottom-up rows of pseudo-random colours with the fourth byte 0, the value
// a 32-bit screen gives back, so that a round trip returns the same file.
int WritePicture(std::uint32_t width, std::uint32_t height, const char* path) {
    const std::uint64_t pixelBytes = std::uint64_t{4} * width * height;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || pixelBytes > 0xFFFFFFFFu - 54) {
        std::fprintf(stderr, "picture too large\n");
        return 1;
    }
    unsigned char header[54] = {'B', 'M'};
    PutLe(header + 2, static_cast<std::uint32_t>(54 + pixelBytes), 4);
    PutLe(header + 10, 54, 4);
    PutLe(header + 14, 40, 4);
    PutLe(header + 18, width, 4);
    PutLe(header + 22, height, 4);
    PutLe(header + 26, 1, 2);
    PutLe(header + 28, 32, 2);
    PutLe(header + 34, static_cast<std::uint32_t>(pixelBytes), 4);
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot create %s\n", path);
        return 1;
    }
    const std::size_t rowBytes = std::size_t{4} * width;
    std::unique_ptr<unsigned char[]> row(new (std::nothrow) unsigned char[rowBytes]);
    bool ok = row != nullptr && std::fwrite(header, 1, sizeof header, file) == sizeof header;
    std::uint32_t state = 2463534242u;
    for (std::uint32_t y = 0; ok && y < height; ++y) {
        for (std::size_t x = 0; x < rowBytes; x += 4) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            PutLe(row.get() + x, state & 0x00FFFFFFu, 4);
        }
        ok = std::fwrite(row.get(), 1, rowBytes, file) == rowBytes;
    }
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", path);
    }
    return ok ? 0 : 1;
}

// A virtual machine's host may back guest memory only when the guest first
// touches it, at a cost many times that of the copy being measured. Filling
// the memory the runs will take once beforehand measures clipfile, not that.
int WarmMemory(std::size_t mib) {
    constexpr std::size_t kChunk = std::size_t{256} * 1024 * 1024;
    std::vector<HeapBuffer> held;
    for (std::size_t taken = 0; taken < mib; taken += kChunk / (std::size_t{1024} * 1024)) {
        HeapBuffer chunk = AllocateHeapBuffer(kChunk);
        if (!chunk) {
            std::fprintf(stderr, "cannot take %zu MiB\n", mib);
            return 1;
        }
        std::memset(chunk.get(), 1, kChunk);
        held.push_back(std::move(chunk));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "formats") == 0) {
        const char* failure = nullptr;
        const auto backend = CreateSystemBackend(failure);
        return backend && backend->platform().console.InitializeFramework()
                   ? PlaceFormats(backend->platform())
                   : 1;
    }
    if (argc == 5 && std::strcmp(argv[1], "bmp") == 0) {
        return WritePicture(static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)),
                            static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)),
                            argv[4]);
    }
    if (argc == 3 && std::strcmp(argv[1], "warm") == 0) {
        return WarmMemory(std::strtoul(argv[2], nullptr, 10));
    }
    std::fprintf(stderr, "usage: bench_helper [formats | bmp WIDTH HEIGHT FILE | warm MIB]\n");
    return 2;
}

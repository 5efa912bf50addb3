#include "x11/png_image.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <limits>

#include "util/checked_math.h"

namespace clipfile {

namespace {

// libpng reports an error by a longjmp back to the setjmp of ReadHeader,
// ReadRows or WriteRows. Those functions and the callbacks in between hold
// plain data only, so the jump skips no destructor; the owners of the libpng
// structures and of the pixels live in the callers, which it never crosses.
[[noreturn]] void OnError(png_structp png, png_const_charp /*message*/) { png_longjmp(png, 1); }
// Messages printed are the tool's own: libpng's warnings are dropped.
void OnWarning(png_structp /*png*/, png_const_charp /*message*/) {}

struct Source {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
};

void ReadFromSource(png_structp png, png_bytep out, png_size_t count) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (count > source->size - source->at) png_error(png, "truncated");
    std::memcpy(out, source->data + source->at, count);
    source->at += count;
}

struct ReadState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Source source;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
};

// Owns the libpng read structures.
struct PngReader {
    ReadState state;
    PngReader() {
        state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
        if (state.png) state.info = png_create_info_struct(state.png);
    }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    ~PngReader() { png_destroy_read_struct(&state.png, &state.info, nullptr); }
};

// Deflate expands at most 1032 times: a file too short to hold the rows its
// header declares is refused before any memory is taken for them.
bool CouldHoldRows(const ReadState& s, unsigned storedBits) {
    constexpr std::uint64_t kMaxInflation = 1032;
    const std::uint64_t rowBytes = 1 + (std::uint64_t{s.width} * storedBits + 7) / 8;
    const auto rows = CheckedMul(rowBytes, s.height);
    const auto limit = CheckedMul(s.source.size, kMaxInflation);
    return rows && (!limit || *rows <= *limit);
}

bool ReadHeader(ReadState& s) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    // libpng's default refuses widths and heights past a million; the size
    // a device bitmap holds is the limit instead.
    png_set_user_limits(s.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    // Only the pixels matter: every chunk but IHDR, PLTE, tRNS, IDAT and IEND
    // is skipped unread, so that a text chunk that claims gigabytes takes no
    // memory for them.
    png_set_keep_unknown_chunks(s.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_read_fn(s.png, &s.source, ReadFromSource);
    png_read_info(s.png, s.info);
    s.width = png_get_image_width(s.png, s.info);
    s.height = png_get_image_height(s.png, s.info);
    return CouldHoldRows(
        s, unsigned{png_get_bit_depth(s.png, s.info)} * png_get_channels(s.png, s.info));
}

// Asks for 8-bit blue, green, red and alpha and reads the rows. PNG rows run
// top-down, a device bitmap's bottom-up. Interlaced images are read pass by
// pass into the same rows, each pass filling its own pixels.
bool ReadRows(ReadState& s, std::uint8_t* pixels) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    // Palette to RGB, low gray depths to 8 bits, tRNS to alpha.
    png_set_expand(s.png);
    // Rounded to the nearest 8-bit value, not truncated.
    png_set_scale_16(s.png);
    png_set_gray_to_rgb(s.png);
    png_set_add_alpha(s.png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(s.png);
    const int passes = png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    const std::size_t stride = std::size_t{4} * s.width;
    if (png_get_bit_depth(s.png, s.info) != 8 || png_get_channels(s.png, s.info) != 4 ||
        png_get_rowbytes(s.png, s.info) != stride) {
        return false;
    }
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < s.height; ++y) {
            png_read_row(s.png, pixels + stride * (s.height - 1 - y), nullptr);
        }
    }
    png_read_end(s.png, nullptr);
    return true;
}

struct Sink {
    std::uint8_t* data = nullptr;
    std::size_t capacity = 0;
    std::size_t size = 0;
};

void WriteToSink(png_structp png, png_bytep in, png_size_t count) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    if (count > sink->capacity - sink->size) png_error(png, "full");
    std::memcpy(sink->data + sink->size, in, count);
    sink->size += count;
}

void FlushSink(png_structp /*png*/) {}

struct WriteState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Sink sink;
    const std::uint8_t* pixels = nullptr;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool alpha = false;
};

// Owns the libpng write structures.
struct PngWriter {
    WriteState state;
    PngWriter() {
        state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
        if (state.png) state.info = png_create_info_struct(state.png);
    }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    ~PngWriter() { png_destroy_write_struct(&state.png, &state.info); }
};

bool WriteRows(WriteState& s) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    png_set_write_fn(s.png, &s.sink, WriteToSink, FlushSink);
    png_set_IHDR(s.png, s.info, s.width, s.height, 8,
                 s.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(s.png, s.info);
    png_set_bgr(s.png);
    if (!s.alpha) png_set_filler(s.png, 0, PNG_FILLER_AFTER);
    const std::size_t stride = std::size_t{4} * s.width;
    for (png_uint_32 y = 0; y < s.height; ++y) {
        png_write_row(s.png, s.pixels + stride * (s.height - 1 - y));
    }
    png_write_end(s.png, nullptr);
    return true;
}

// The most a PNG of the rows can take: deflate's bound for data it cannot
// compress, 12 bytes for each IDAT chunk (libpng writes 8 KiB ones) and the
// other chunks.
std::optional<std::size_t> PngSizeBound(const DeviceBitmap& bitmap, bool alpha) {
    const auto rowBytes =
        1 + std::uint64_t{alpha ? 4U : 3U} * static_cast<std::uint32_t>(bitmap.width);
    const auto raw = CheckedMul(rowBytes, static_cast<std::uint32_t>(bitmap.height));
    if (!raw) return std::nullopt;
    const auto bound = CheckedAdd(*raw, *raw / 8 + *raw / 64 + *raw / 256 + 4096);
    if (!bound || *bound > std::numeric_limits<std::size_t>::max()) return std::nullopt;
    return static_cast<std::size_t>(*bound);
}

bool HasAlpha(const DeviceBitmap& bitmap) {
    const std::uint8_t* pixels = bitmap.pixels.get();
    const std::size_t size = bitmap.size();
    for (std::size_t i = 3; i < size; i += 4) {
        if (pixels[i] != 0) return true;
    }
    return false;
}

}  // namespace

std::optional<DeviceBitmap> DecodePng(std::span<const std::uint8_t> png) {
    if (png.size() < 8 || png_sig_cmp(png.data(), 0, 8) != 0) return std::nullopt;
    PngReader reader;
    ReadState& s = reader.state;
    if (!s.png || !s.info) return std::nullopt;
    s.source = {png.data(), png.size(), 0};
    if (!ReadHeader(s) || s.width > PNG_UINT_31_MAX || s.height > PNG_UINT_31_MAX) {
        return std::nullopt;
    }
    // Taken before libpng's row buffers, so that its limit holds for theirs too.
    auto bitmap = AllocateDeviceBitmap(static_cast<std::int32_t>(s.width),
                                       static_cast<std::int32_t>(s.height));
    if (!bitmap || !ReadRows(s, bitmap->pixels.get())) return std::nullopt;
    return bitmap;
}

std::optional<EncodedImage> EncodePng(const DeviceBitmap& bitmap) {
    if (bitmap.width <= 0 || bitmap.height <= 0 || !bitmap.pixels) return std::nullopt;
    const bool alpha = HasAlpha(bitmap);
    const auto bound = PngSizeBound(bitmap, alpha);
    if (!bound) return std::nullopt;
    EncodedImage image;
    // Pages past the PNG's end are never touched, so the bound costs address space only.
    image.bytes = AllocateHeapBuffer(*bound);
    if (!image.bytes) return std::nullopt;
    PngWriter writer;
    WriteState& s = writer.state;
    if (!s.png || !s.info) return std::nullopt;
    s.sink = {image.bytes.get(), *bound, 0};
    s.pixels = bitmap.pixels.get();
    s.width = static_cast<png_uint_32>(bitmap.width);
    s.height = static_cast<png_uint_32>(bitmap.height);
    s.alpha = alpha;
    if (!WriteRows(s)) return std::nullopt;
    image.size = s.sink.size;
    return image;
}

}  // namespace clipfile

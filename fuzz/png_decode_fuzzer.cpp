// Any bytes through the PNG decoder the X11 clipboard uses for image/png: it
// stays within them and refuses what it cannot read; what decodes is encoded
// again and decodes to the same pixels.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "x11/png_image.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "\nbroken: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace clipfile;
    const auto bitmap = DecodePng(std::span(data, size));
    if (!bitmap) return 0;
    Require(bitmap->width > 0 && bitmap->height > 0 && bitmap->pixels, "a decoded size");
    const auto png = EncodePng(*bitmap);
    Require(png.has_value(), "a decoded bitmap encodes");
    const auto again = DecodePng(std::span(png->bytes.get(), png->size));
    Require(again && again->width == bitmap->width && again->height == bitmap->height,
            "an encoded bitmap decodes to its size");
    // A bitmap whose alpha is 0 throughout is taken for one without alpha,
    // as a 32-bit BMP of it would be, and comes back opaque.
    bool transparent = true;
    for (std::size_t i = 3; i < bitmap->size() && transparent; i += 4) {
        transparent = bitmap->pixels[i] == 0;
    }
    for (std::size_t i = 0; i < bitmap->size(); ++i) {
        const std::uint8_t want = transparent && i % 4 == 3 ? 255 : bitmap->pixels[i];
        Require(again->pixels[i] == want, "the pixels survive");
    }
    return 0;
}

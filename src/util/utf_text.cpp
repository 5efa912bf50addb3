#include "util/utf_text.h"

#include "util/checked_math.h"

namespace clipfile {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

struct Decoded {
    std::uint32_t codePoint = kReplacement;
    std::size_t length = 1;
};

// The code point at in[at], or U+FFFD for the longest prefix of a well-formed
// sequence that stops short (the maximal subpart), at least one byte.
Decoded NextUtf8(std::span<const std::uint8_t> in, std::size_t at) {
    const std::uint8_t lead = in[at];
    if (lead < 0x80) return {lead, 1};
    std::size_t needed = 0;
    std::uint32_t value = 0;
    // The range the second byte must lie in excludes overlong forms,
    // surrogates and values past U+10FFFF.
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
        value = lead & 0x1FU;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        value = lead & 0x0FU;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        value = lead & 0x07U;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {};
    }
    std::size_t length = 1;
    for (; length <= needed; ++length) {
        if (at + length >= in.size()) return {kReplacement, length};
        const std::uint8_t next = in[at + length];
        if (next < low || next > high) return {kReplacement, length};
        value = (value << 6) | (next & 0x3FU);
        low = 0x80;
        high = 0xBF;
    }
    return {value, length};
}

// The code point at unit index at of UTF-16LE text, in[at..] holding at least
// one whole unit.
Decoded NextUtf16(std::span<const std::uint8_t> in, std::size_t at) {
    const auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(in[i] | (in[i + 1] << 8));
    };
    const std::uint32_t first = unit(at);
    if (first < 0xD800 || first > 0xDFFF) return {first, 2};
    if (first <= 0xDBFF && in.size() - at >= 4) {
        const std::uint32_t second = unit(at + 2);
        if (second >= 0xDC00 && second <= 0xDFFF) {
            return {0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00), 4};
        }
    }
    return {kReplacement, 2};
}

std::size_t Utf8Length(std::uint32_t codePoint) {
    if (codePoint < 0x80) return 1;
    if (codePoint < 0x800) return 2;
    if (codePoint < 0x10000) return 3;
    return 4;
}

std::size_t PutUtf8(std::uint32_t c, std::uint8_t* out) {
    const std::size_t length = Utf8Length(c);
    if (length == 1) {
        out[0] = static_cast<std::uint8_t>(c);
        return 1;
    }
    static constexpr std::uint8_t kLeadBits[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (std::size_t i = length - 1; i > 0; --i) {
        out[i] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        c >>= 6;
    }
    out[0] = static_cast<std::uint8_t>(kLeadBits[length] | c);
    return length;
}

std::size_t PutUtf16Le(std::uint32_t c, std::uint8_t* out) {
    const auto put = [&](std::size_t i, std::uint32_t unit) {
        out[i] = static_cast<std::uint8_t>(unit);
        out[i + 1] = static_cast<std::uint8_t>(unit >> 8);
    };
    if (c < 0x10000) {
        put(0, c);
        return 2;
    }
    c -= 0x10000;
    put(0, 0xD800 + (c >> 10));
    put(2, 0xDC00 + (c & 0x3FF));
    return 4;
}

// The sizes are counted in 64 bits and then checked against size_t, which
// is 32 bits wide in the 32-bit build.
std::optional<std::size_t> AsSize(std::optional<std::uint64_t> total) {
    if (!total || *total > static_cast<std::uint64_t>(static_cast<std::size_t>(-1))) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(*total);
}

}  // namespace

std::optional<std::size_t> Utf16LeSizeOfUtf8(std::span<const std::uint8_t> utf8) {
    std::optional<std::uint64_t> total = 0;
    for (std::size_t at = 0; at < utf8.size() && total;) {
        const Decoded d = NextUtf8(utf8, at);
        at += d.length;
        total = CheckedAdd(*total, d.codePoint < 0x10000 ? 2 : 4);
    }
    return AsSize(total);
}

void Utf8ToUtf16Le(std::span<const std::uint8_t> utf8, std::span<std::uint8_t> out) {
    std::size_t written = 0;
    for (std::size_t at = 0; at < utf8.size();) {
        const Decoded d = NextUtf8(utf8, at);
        at += d.length;
        // A short out stops the conversion rather than overrun it.
        if (out.size() - written < (d.codePoint < 0x10000 ? 2U : 4U)) return;
        written += PutUtf16Le(d.codePoint, out.data() + written);
    }
}

std::optional<std::size_t> Utf8SizeOfUtf16Le(std::span<const std::uint8_t> utf16) {
    std::optional<std::uint64_t> total = 0;
    std::size_t at = 0;
    for (; utf16.size() - at >= 2 && total;) {
        const Decoded d = NextUtf16(utf16, at);
        at += d.length;
        total = CheckedAdd(*total, Utf8Length(d.codePoint));
    }
    if (total && at < utf16.size()) total = CheckedAdd(*total, Utf8Length(kReplacement));
    return AsSize(total);
}

void Utf16LeToUtf8(std::span<const std::uint8_t> utf16, std::span<std::uint8_t> out) {
    std::size_t written = 0;
    std::size_t at = 0;
    while (utf16.size() - at >= 2) {
        const Decoded d = NextUtf16(utf16, at);
        at += d.length;
        if (out.size() - written < Utf8Length(d.codePoint)) return;
        written += PutUtf8(d.codePoint, out.data() + written);
    }
    if (at < utf16.size() && out.size() - written >= Utf8Length(kReplacement)) {
        PutUtf8(kReplacement, out.data() + written);
    }
}

}  // namespace clipfile

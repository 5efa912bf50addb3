#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace clipfile {

// Text conversions between the X11 clipboard (UTF-8) and Windows text blocks
// (UTF-16LE). Ill-formed input never fails: each maximal ill-formed UTF-8
// subsequence, each unpaired surrogate and a final odd byte of UTF-16LE
// become U+FFFD. The sizes are in bytes, none when they overflow size_t.
std::optional<std::size_t> Utf16LeSizeOfUtf8(std::span<const std::uint8_t> utf8);
// out holds exactly Utf16LeSizeOfUtf8(utf8) bytes.
void Utf8ToUtf16Le(std::span<const std::uint8_t> utf8, std::span<std::uint8_t> out);
std::optional<std::size_t> Utf8SizeOfUtf16Le(std::span<const std::uint8_t> utf16);
// out holds exactly Utf8SizeOfUtf16Le(utf16) bytes.
void Utf16LeToUtf8(std::span<const std::uint8_t> utf16, std::span<std::uint8_t> out);

}  // namespace clipfile

#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace clipfile::x11 {

// The selection targets that carry text, in the order a reader prefers them,
// and the ones that carry images; the owner of text or an image serves all
// of its kind.
inline constexpr const char* kTextTargets[] = {"UTF8_STRING", "text/plain;charset=utf-8", "STRING",
                                               "TEXT", "text/plain"};
inline constexpr const char* kImageTargets[] = {"image/png", "image/bmp", "image/x-bmp",
                                                "image/x-MS-bmp"};
inline constexpr std::size_t kServedImageTargets = 2;  // image/png and image/bmp

// Position in the list, or -1.
int RankIn(std::span<const char* const> names, std::string_view name);

// The protocol's own targets, never listed as formats.
bool IsProtocolTarget(std::string_view name);

}  // namespace clipfile::x11

#pragma once

#include <cstdint>
#include <limits>
#include <optional>

namespace clipfile {

// Sums and products of sizes, none when they do not fit 64 bits.
constexpr std::optional<std::uint64_t> CheckedAdd(std::uint64_t a, std::uint64_t b) {
    if (a > std::numeric_limits<std::uint64_t>::max() - b) return std::nullopt;
    return a + b;
}

constexpr std::optional<std::uint64_t> CheckedMul(std::uint64_t a, std::uint64_t b) {
    if (b != 0 && a > std::numeric_limits<std::uint64_t>::max() / b) return std::nullopt;
    return a * b;
}

}  // namespace clipfile

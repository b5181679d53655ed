#pragma once

#include <cstdint>
#include <optional>

namespace qis {

// Offset and size arithmetic on values read from disk: an overflow is a
// damaged field, never a wrapped result.
[[nodiscard]] inline std::optional<std::uint64_t> checkedAdd(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t r;
    if (__builtin_add_overflow(a, b, &r))
        return std::nullopt;
    return r;
}

[[nodiscard]] inline std::optional<std::uint64_t> checkedMul(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t r;
    if (__builtin_mul_overflow(a, b, &r))
        return std::nullopt;
    return r;
}

[[nodiscard]] constexpr bool isPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

[[nodiscard]] constexpr std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0); }

// Largest allocation a single on-disk count may ask for.
inline constexpr std::uint64_t kMaxTableBytes = 64ull << 20;

} // namespace qis

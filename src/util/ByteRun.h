#pragma once

#include <cstdint>

namespace qis {

// A stretch of bytes: `length` bytes from `start`, counted from wherever
// its owner says (a volume's first byte, the reader's base offset).
struct ByteRun {
    std::uint64_t start = 0;
    std::uint64_t length = 0;

    [[nodiscard]] std::uint64_t end() const { return start + length; }
    friend bool operator==(const ByteRun&, const ByteRun&) = default;
};

} // namespace qis

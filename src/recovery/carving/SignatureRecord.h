#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace qis {

// One file type of a signature settings file: a fixed 173-byte record
// (integers little-endian, texts UTF-16LE).
struct SignatureRecord {
    static constexpr std::size_t kBytes = 173;
    static constexpr std::size_t kMaxSignatureBytes = 10;
    static constexpr std::size_t kMaxExtensionChars = 4;
    static constexpr std::size_t kMaxCategoryChars = 50;
    static constexpr std::uint8_t kUnwrittenIndex = 0xFF;

    std::u16string extension;            // at most 4 characters kept
    std::uint16_t startOffset = 0;       // where the start signature is in the first sector
    std::uint8_t extensionLength = 0;    // characters typed, even beyond 4
    std::array<std::uint8_t, kMaxSignatureBytes> startSignature{};
    std::array<std::uint8_t, kMaxSignatureBytes> endSignature{};
    std::uint8_t startLength = 0;
    std::uint8_t endLength = 0;          // 0: no end signature
    std::uint8_t recordIndex = kUnwrittenIndex;
    std::int32_t offsetToSize = -1;      // -1: no size field
    std::int32_t bytesInSize = 0;
    std::int32_t headerSize = 0;
    std::uint8_t sizeIncludesHeader = 0;
    std::int64_t approxSize = 0;
    std::int64_t skipSize = 0;
    std::u16string category;             // at most 50 characters kept

    [[nodiscard]] std::array<std::uint8_t, kBytes> encode() const;
    static SignatureRecord decode(std::span<const std::uint8_t, kBytes> bytes);
};

} // namespace qis

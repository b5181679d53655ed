#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qis {

// Bounds-checked decoding of on-disk fields. Reads outside the span yield 0
// and set a sticky error, so a parse can read all its fields and check once.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] std::size_t size() const { return data_.size(); }
    [[nodiscard]] bool has(std::size_t offset, std::size_t length) const
    {
        return offset <= data_.size() && length <= data_.size() - offset;
    }

    std::uint8_t u8(std::size_t offset) { return has(offset, 1) ? data_[offset] : fail<std::uint8_t>(); }
    std::uint16_t u16le(std::size_t offset) { return static_cast<std::uint16_t>(le(offset, 2)); }
    std::uint32_t u32le(std::size_t offset) { return static_cast<std::uint32_t>(le(offset, 4)); }
    std::uint64_t u64le(std::size_t offset) { return le(offset, 8); }
    std::uint16_t u16be(std::size_t offset) { return static_cast<std::uint16_t>(be(offset, 2)); }
    std::uint32_t u32be(std::size_t offset) { return static_cast<std::uint32_t>(be(offset, 4)); }
    std::uint64_t u64be(std::size_t offset) { return be(offset, 8); }

    // The bytes [offset, offset + length), or an empty span (and the error set).
    std::span<const std::uint8_t> bytes(std::size_t offset, std::size_t length)
    {
        if (!has(offset, length)) {
            ok_ = false;
            return {};
        }
        return data_.subspan(offset, length);
    }

    // True when the bytes at offset equal the given text (without its NUL).
    template <std::size_t N>
    bool matches(std::size_t offset, const char (&text)[N])
    {
        if (!has(offset, N - 1))
            return false;
        for (std::size_t i = 0; i + 1 < N; ++i)
            if (data_[offset + i] != static_cast<std::uint8_t>(text[i]))
                return false;
        return true;
    }

private:
    template <typename T>
    T fail()
    {
        ok_ = false;
        return T{};
    }

    std::uint64_t le(std::size_t offset, std::size_t width)
    {
        if (!has(offset, width))
            return fail<std::uint64_t>();
        std::uint64_t value = 0;
        for (std::size_t i = width; i-- > 0;)
            value = (value << 8) | data_[offset + i];
        return value;
    }

    std::uint64_t be(std::size_t offset, std::size_t width)
    {
        if (!has(offset, width))
            return fail<std::uint64_t>();
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i)
            value = (value << 8) | data_[offset + i];
        return value;
    }

    std::span<const std::uint8_t> data_;
    bool ok_ = true;
};

} // namespace qis

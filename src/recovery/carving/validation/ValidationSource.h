#pragma once

#include "images/readWriteInterface.h"
#include "recovery/carving/FileLayout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace qis::carve::validation {

// The candidate file's bytes, read from the disk a block at a time as the
// validator asks for them, never past `limit`: in one run from `start`, or
// through a layout of pieces when the file's data is known to be interrupted.
class Source {
public:
    Source(readWriteInterface& reader, std::uint64_t start, std::uint64_t limit)
        : Source(reader, FileLayout{{start, limit}})
    {
    }
    Source(readWriteInterface& reader, FileLayout layout)
        : reader_(reader), layout_(std::move(layout)), limit_(layoutLength(layout_))
    {
    }
    [[nodiscard]] std::uint64_t limit() const { return limit_; }
    [[nodiscard]] bool has(std::uint64_t at, std::uint64_t n) const { return at <= limit_ && n <= limit_ - at; }
    std::uint8_t u8(std::uint64_t at)
    {
        if (at >= limit_)
            return 0;
        const std::uint64_t block = at / kBlock;
        if (block != loaded_) {
            const std::uint64_t from = block * kBlock;
            buffer_.assign(static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, limit_ - from)), 0);
            readThroughLayout(reader_, layout_, from, buffer_);
            loaded_ = block;
        }
        return buffer_[static_cast<std::size_t>(at % kBlock)];
    }
    std::uint32_t be(std::uint64_t at, int bytes)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v << 8 | u8(at + i);
        return v;
    }
    std::uint64_t le(std::uint64_t at, int bytes)
    {
        std::uint64_t v = 0;
        for (int i = bytes; i-- > 0;)
            v = v << 8 | u8(at + i);
        return v;
    }
    bool matches(std::uint64_t at, std::string_view text)
    {
        if (!has(at, text.size()))
            return false;
        for (std::size_t i = 0; i < text.size(); ++i)
            if (u8(at + i) != static_cast<std::uint8_t>(text[i]))
                return false;
        return true;
    }
    // The first place at or after `from` holding `value`.
    std::optional<std::uint64_t> findByte(std::uint8_t value, std::uint64_t from)
    {
        while (from < limit_) {
            u8(from); // loads the block that holds it
            const std::uint64_t blockStart = from / kBlock * kBlock;
            const std::size_t at = static_cast<std::size_t>(from - blockStart);
            const void* hit = std::memchr(buffer_.data() + at, value, buffer_.size() - at);
            if (hit != nullptr)
                return blockStart + static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - buffer_.data());
            from = blockStart + buffer_.size();
        }
        return std::nullopt;
    }
    // The first place at or after `from` where `text` stands.
    std::optional<std::uint64_t> find(std::string_view text, std::uint64_t from)
    {
        while (auto at = findByte(static_cast<std::uint8_t>(text[0]), from)) {
            if (!has(*at, text.size()))
                return std::nullopt;
            if (matches(*at, text))
                return at;
            from = *at + 1;
        }
        return std::nullopt;
    }

private:
    static constexpr std::uint64_t kBlock = 65536;
    readWriteInterface& reader_;
    FileLayout layout_;
    std::uint64_t limit_;
    std::uint64_t loaded_ = UINT64_MAX;
    std::vector<std::uint8_t> buffer_;
};

// What a validator finds: the length of the file of its kind that starts
// at the source's first byte, or nullopt when the bytes hold no whole one
// within the limit.
using Length = std::optional<std::uint64_t>;

} // namespace qis::carve::validation

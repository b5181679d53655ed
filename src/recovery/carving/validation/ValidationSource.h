#pragma once

#include "images/readWriteInterface.h"
#include "recovery/carving/FileLayout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
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
    // `head`, when given, holds the file's first bytes as already read
    // (the scan's window): blocks wholly inside it are used from there.
    Source(readWriteInterface& reader, FileLayout layout, std::span<const std::uint8_t> head = {})
        : reader_(reader), layout_(std::move(layout)), limit_(layoutLength(layout_))
    {
        if (!layout_.empty())
            head_ = head.first(static_cast<std::size_t>(std::min<std::uint64_t>(head.size(), layout_.front().length)));
    }
    [[nodiscard]] std::uint64_t limit() const { return limit_; }
    [[nodiscard]] bool has(std::uint64_t at, std::uint64_t n) const { return at <= limit_ && n <= limit_ - at; }
    std::uint8_t u8(std::uint64_t at)
    {
        // Most reads fall in the block read last: one compare, no division.
        const std::uint64_t i = at - loadedFrom_;
        if (i < loadedSize_)
            return loaded_[static_cast<std::size_t>(i)];
        return at < limit_ ? load(at)[0] : 0;
    }
    // The bytes from `at` to the end of the block that holds it (at most
    // to the limit): for checks that go through many bytes in a row.
    // Empty at or past the limit.
    std::span<const std::uint8_t> run(std::uint64_t at)
    {
        if (at >= limit_)
            return {};
        const std::uint64_t i = at - loadedFrom_;
        if (i < loadedSize_)
            return {loaded_ + i, static_cast<std::size_t>(loadedSize_ - i)};
        return load(at);
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
        for (std::span<const std::uint8_t> bytes; !(bytes = run(from)).empty(); from += bytes.size()) {
            const void* hit = std::memchr(bytes.data(), value, bytes.size());
            if (hit != nullptr)
                return from + static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - bytes.data());
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
    // Reads the block that holds `at` (below the limit); its bytes from `at` on.
    std::span<const std::uint8_t> load(std::uint64_t at)
    {
        const std::uint64_t from = at / kBlock * kBlock;
        loadedSize_ = std::min<std::uint64_t>(kBlock, limit_ - from);
        loadedFrom_ = from;
        if (from + loadedSize_ <= head_.size()) {
            loaded_ = head_.data() + from;
        } else {
            // Not cleared first: the read fills every byte, with zeros where it cannot.
            if (!buffer_)
                buffer_.reset(new std::uint8_t[kBlock]);
            readThroughLayout(reader_, layout_, from, std::span(buffer_.get(), static_cast<std::size_t>(loadedSize_)));
            loaded_ = buffer_.get();
        }
        return {loaded_ + (at - from), static_cast<std::size_t>(loadedSize_ - (at - from))};
    }
    readWriteInterface& reader_;
    FileLayout layout_;
    std::uint64_t limit_;
    // The block read last: [loadedFrom_, loadedFrom_ + loadedSize_).
    std::uint64_t loadedFrom_ = 0;
    std::uint64_t loadedSize_ = 0;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::span<const std::uint8_t> head_;
    const std::uint8_t* loaded_ = nullptr; // in buffer_ or head_
};

// What a validator finds: the length of the file of its kind that starts
// at the source's first byte, or nullopt when the bytes hold no whole one
// within the limit.
using Length = std::optional<std::uint64_t>;

} // namespace qis::carve::validation

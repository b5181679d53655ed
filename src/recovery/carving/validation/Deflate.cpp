#include "recovery/carving/validation/Deflate.h"

#include <array>
#include <utility>
#include <vector>

namespace qis::carve::validation {

namespace {

// Reads a deflate stream (RFC 1951) without keeping what it inflates:
// enough to know where it ends and how many bytes it makes.
class InflateWalk {
public:
    InflateWalk(Source& s, std::uint64_t at, bool keep = false) : s_(s), at_(at), keep_(keep)
    {
        if (keep_)
            window_.assign(kWindow, 0);
    }
    [[nodiscard]] std::uint32_t crc() const { return crc_ ^ 0xFFFFFFFFu; }
    [[nodiscard]] std::uint32_t adler() const { return adlerHigh_ << 16 | adlerLow_; }

    // The offset just past the stream, and how many bytes it inflates to;
    // nullopt for anything that is not a valid stream.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> walk()
    {
        for (bool last = false; !last;) {
            auto header = bits(3);
            if (!header)
                return std::nullopt;
            last = *header & 1;
            const unsigned type = static_cast<unsigned>(*header >> 1);
            if (type == 0) {
                if (!stored())
                    return std::nullopt;
            } else if (type == 1 || type == 2) {
                if (!(type == 1 ? fixedTables() : dynamicTables()) || !codes())
                    return std::nullopt;
            } else {
                return std::nullopt;
            }
        }
        // Bits left over belong to the stream's last byte.
        return std::pair{at_, produced_};
    }

private:
    struct Table {
        std::array<std::uint16_t, 16> counts{};
        std::array<std::uint16_t, 320> symbols{};
    };
    std::optional<std::uint32_t> bits(unsigned n)
    {
        while (bitCount_ < n) {
            if (!s_.has(at_, 1))
                return std::nullopt;
            buffer_ |= std::uint32_t{s_.u8(at_++)} << bitCount_;
            bitCount_ += 8;
        }
        const std::uint32_t v = buffer_ & ((1u << n) - 1);
        buffer_ >>= n;
        bitCount_ -= n;
        return v;
    }
    static bool build(Table& t, const std::uint8_t* lengths, unsigned n)
    {
        t.counts.fill(0);
        for (unsigned i = 0; i < n; ++i)
            ++t.counts[lengths[i]];
        t.counts[0] = 0;
        int left = 1;
        for (unsigned len = 1; len < 16; ++len) {
            left = left * 2 - t.counts[len];
            if (left < 0)
                return false; // over-subscribed
        }
        std::array<std::uint16_t, 16> offsets{};
        for (unsigned len = 1; len < 15; ++len)
            offsets[len + 1] = static_cast<std::uint16_t>(offsets[len] + t.counts[len]);
        for (unsigned i = 0; i < n; ++i)
            if (lengths[i])
                t.symbols[offsets[lengths[i]]++] = static_cast<std::uint16_t>(i);
        return true;
    }
    std::optional<unsigned> decode(const Table& t)
    {
        int code = 0, first = 0, index = 0;
        for (unsigned len = 1; len < 16; ++len) {
            auto bit = bits(1);
            if (!bit)
                return std::nullopt;
            code |= static_cast<int>(*bit);
            const int count = t.counts[len];
            if (code - count < first)
                return t.symbols[static_cast<std::size_t>(index + (code - first))];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return std::nullopt;
    }
    bool stored()
    {
        buffer_ = 0;
        bitCount_ = 0; // to the byte boundary
        if (!s_.has(at_, 4))
            return false;
        const std::uint64_t length = s_.le(at_, 2), check = s_.le(at_ + 2, 2);
        if ((length ^ 0xFFFF) != check || !s_.has(at_ + 4, length))
            return false;
        at_ += 4;
        if (keep_)
            for (std::uint64_t i = 0; i < length; ++i)
                put(s_.u8(at_ + i));
        else
            produced_ += length;
        at_ += length;
        return true;
    }
    bool fixedTables()
    {
        std::uint8_t lengths[320];
        for (unsigned i = 0; i < 288; ++i)
            lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        for (unsigned i = 0; i < 30; ++i)
            lengths[288 + i] = 5;
        return build(literals_, lengths, 288) && build(distances_, lengths + 288, 30);
    }
    bool dynamicTables()
    {
        auto hlit = bits(5), hdist = bits(5), hclen = bits(4);
        if (!hlit || !hdist || !hclen || *hlit > 29 || *hdist > 29)
            return false;
        static constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        std::uint8_t lengths[320] = {};
        for (unsigned i = 0; i < *hclen + 4; ++i) {
            auto v = bits(3);
            if (!v)
                return false;
            lengths[kOrder[i]] = static_cast<std::uint8_t>(*v);
        }
        Table codeLengths;
        if (!build(codeLengths, lengths, 19))
            return false;
        const unsigned total = *hlit + 257 + *hdist + 1;
        std::uint8_t all[320] = {};
        for (unsigned i = 0; i < total;) {
            auto symbol = decode(codeLengths);
            if (!symbol)
                return false;
            if (*symbol < 16) {
                all[i++] = static_cast<std::uint8_t>(*symbol);
                continue;
            }
            unsigned repeat = 0;
            std::uint8_t value = 0;
            if (*symbol == 16) {
                if (i == 0)
                    return false;
                value = all[i - 1];
                auto r = bits(2);
                repeat = r ? 3 + *r : 0;
            } else {
                auto r = bits(*symbol == 17 ? 3 : 7);
                repeat = r ? (*symbol == 17 ? 3 : 11) + *r : 0;
            }
            if (repeat == 0 || i + repeat > total)
                return false;
            while (repeat--)
                all[i++] = value;
        }
        return all[256] != 0 && build(literals_, all, *hlit + 257) && build(distances_, all + *hlit + 257, *hdist + 1);
    }
    bool codes()
    {
        static constexpr std::uint16_t kLengthBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static constexpr std::uint16_t kDistanceBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                                            193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097,
                                                            6145, 8193, 12289, 16385, 24577};
        static constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            auto symbol = decode(literals_);
            if (!symbol)
                return false;
            if (*symbol < 256) {
                if (keep_)
                    put(static_cast<std::uint8_t>(*symbol));
                else
                    ++produced_;
                continue;
            }
            if (*symbol == 256)
                return true;
            const unsigned l = *symbol - 257;
            if (l >= 29)
                return false;
            auto extra = bits(kLengthExtra[l]);
            auto d = decode(distances_);
            if (!extra || !d || *d >= 30)
                return false;
            auto dextra = bits(kDistanceExtra[*d]);
            if (!dextra)
                return false;
            const std::uint64_t distance = kDistanceBase[*d] + *dextra;
            if (distance > produced_)
                return false; // refers to bytes before the stream
            const std::uint64_t length = kLengthBase[l] + *extra;
            if (!keep_) {
                produced_ += length;
                continue;
            }
            for (std::uint64_t i = 0; i < length; ++i)
                put(window_[static_cast<std::size_t>((produced_ - distance) % kWindow)]);
        }
    }
    // Keeps the last 32 KiB of output for the back references and runs the
    // CRC-32 a ZIP entry or GZIP member is checked by over every byte.
    void put(std::uint8_t byte)
    {
        window_[static_cast<std::size_t>(produced_ % kWindow)] = byte;
        ++produced_;
        crc_ = crc32Step(crc_, byte);
        adlerLow_ = (adlerLow_ + byte) % 65521;
        adlerHigh_ = (adlerHigh_ + adlerLow_) % 65521;
    }

    Source& s_;
    std::uint64_t at_;
    std::uint32_t buffer_ = 0;
    unsigned bitCount_ = 0;
    std::uint64_t produced_ = 0;
    Table literals_, distances_;
    static constexpr std::uint64_t kWindow = 32768;
    bool keep_ = false;
    std::vector<std::uint8_t> window_;
    std::uint32_t crc_ = 0xFFFFFFFFu;
    std::uint32_t adlerLow_ = 1, adlerHigh_ = 0;
};

} // namespace

std::optional<DeflateExtent> walkDeflate(Source& s, std::uint64_t at)
{
    auto stream = InflateWalk(s, at).walk();
    if (!stream)
        return std::nullopt;
    return DeflateExtent{stream->first, stream->second};
}

} // namespace qis::carve::validation

namespace qis::carve::validation {

std::optional<DeflateOutput> inflateChecked(Source& s, std::uint64_t at)
{
    InflateWalk walk(s, at, true);
    auto stream = walk.walk();
    if (!stream)
        return std::nullopt;
    return DeflateOutput{{stream->first, stream->second}, walk.crc(), walk.adler()};
}

} // namespace qis::carve::validation

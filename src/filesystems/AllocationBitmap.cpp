#include "filesystems/AllocationBitmap.h"

#include <algorithm>

namespace qis {
namespace {

constexpr std::uint64_t kPiece = 64u << 10;

} // namespace

const std::vector<std::uint8_t>& AllocationBitmap::piece(std::uint64_t index)
{
    auto [it, added] = pieces_.try_emplace(index);
    if (added) {
        it->second.assign(static_cast<std::size_t>(std::min(kPiece, bytes_ - index * kPiece)), 0xFF);
        if (read_)
            read_(index * kPiece, it->second);
    }
    return it->second;
}

bool AllocationBitmap::anyInUse(std::uint64_t first, std::uint64_t count)
{
    const std::uint64_t units = bytes_ < (UINT64_MAX >> 3) ? bytes_ * 8 : UINT64_MAX;
    if (first >= units || count > units - first)
        return true;
    while (count > 0) {
        const std::uint64_t byte = first / 8;
        const std::vector<std::uint8_t>& bits = piece(byte / kPiece);
        std::uint64_t at = byte % kPiece;
        // Whole bytes at a time where the range covers them.
        if (first % 8 == 0 && count >= 8) {
            while (count >= 8 && at < bits.size()) {
                if (bits[static_cast<std::size_t>(at)] != 0)
                    return true;
                ++at;
                first += 8;
                count -= 8;
            }
            continue;
        }
        const unsigned mask = order_ == BitOrder::LowBitFirst ? 1u << (first % 8) : 0x80u >> (first % 8);
        if (bits[static_cast<std::size_t>(at)] & mask)
            return true;
        ++first;
        --count;
    }
    return false;
}

} // namespace qis

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

void AllocationBitmap::forEachFreeRun(std::uint64_t units,
                                      const std::function<void(std::uint64_t, std::uint64_t)>& visit)
{
    units = std::min(units, bytes_ < (UINT64_MAX >> 3) ? bytes_ * 8 : UINT64_MAX);
    std::uint64_t runFirst = 0, runCount = 0;
    auto freeUnit = [&](std::uint64_t unit, std::uint64_t n) {
        if (runCount == 0)
            runFirst = unit;
        runCount += n;
    };
    auto usedUnit = [&] {
        if (runCount != 0)
            visit(runFirst, runCount);
        runCount = 0;
    };
    std::vector<std::uint8_t> buffer;
    for (std::uint64_t unit = 0; unit < units;) {
        // Pieces a listing read already are used as they are; the rest are
        // read into one buffer and not kept, so a walk over a bitmap of
        // hundreds of MiB holds 64 KiB of it.
        const std::uint64_t index = unit / 8 / kPiece;
        const std::vector<std::uint8_t>* kept = nullptr;
        if (auto it = pieces_.find(index); it != pieces_.end()) {
            kept = &it->second;
        } else {
            buffer.assign(static_cast<std::size_t>(std::min(kPiece, bytes_ - index * kPiece)), 0xFF);
            if (read_)
                read_(index * kPiece, buffer);
        }
        const std::vector<std::uint8_t>& bits = kept ? *kept : buffer;
        // A piece at a time; whole bytes where all eight bits agree.
        for (std::size_t at = static_cast<std::size_t>(unit / 8 % kPiece); at < bits.size() && unit < units; ++at) {
            const std::uint8_t b = bits[at];
            if ((b == 0 || b == 0xFF) && units - unit >= 8) {
                b == 0 ? freeUnit(unit, 8) : usedUnit();
                unit += 8;
                continue;
            }
            for (unsigned bit = 0; bit < 8 && unit < units; ++bit, ++unit) {
                const unsigned mask = order_ == BitOrder::LowBitFirst ? 1u << bit : 0x80u >> bit;
                (b & mask) ? usedUnit() : freeUnit(unit, 1);
            }
        }
    }
    usedUnit();
}

} // namespace qis

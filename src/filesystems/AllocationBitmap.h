#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <unordered_map>
#include <vector>

namespace qis {

// A volume's allocation bitmap (NTFS $Bitmap, the HFS+ allocation file),
// read a piece at a time, each piece once: a listing asks about units all
// over the volume, and a large volume's bitmap runs to tens of MiB. Bytes
// that cannot be read count as in use, so a unit is called free only when
// the bitmap says so.
class AllocationBitmap {
public:
    enum class BitOrder { LowBitFirst, HighBitFirst };
    // Fills `out` with the bitmap's bytes from `offset`; what it leaves
    // untouched stays marked in use.
    using ReadBytes = std::function<void(std::uint64_t offset, std::span<std::uint8_t> out)>;

    AllocationBitmap() = default;
    AllocationBitmap(std::uint64_t bytes, BitOrder order, ReadBytes read)
        : bytes_(bytes), order_(order), read_(std::move(read))
    {
    }

    // Whether any of the `count` units from `first` is in use; units past
    // the bitmap are no file's to have, so they count as in use.
    bool anyInUse(std::uint64_t first, std::uint64_t count);
    // Calls `visit(first, count)` for each run of free units among the
    // first `units`, in order (units past the bitmap are in use).
    void forEachFreeRun(std::uint64_t units, const std::function<void(std::uint64_t, std::uint64_t)>& visit);

private:
    const std::vector<std::uint8_t>& piece(std::uint64_t index);

    std::uint64_t bytes_ = 0;
    BitOrder order_ = BitOrder::LowBitFirst;
    ReadBytes read_;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> pieces_;
};

} // namespace qis

#include "images/vhd/VhdSectorBitmaps.h"

namespace qis::vhd {
namespace {

bool bitOf(const std::vector<std::uint8_t>& bitmap, std::uint64_t sector)
{
    const std::uint64_t byte = sector / 8;
    return byte < bitmap.size() && (bitmap[byte] & (0x80u >> (sector % 8))) != 0;
}

} // namespace

void VhdSectorBitmaps::reset(std::uint64_t bytes)
{
    std::lock_guard lock(mutex_);
    cache_.clear();
    bytes_ = bytes;
}

VhdSectorBitmaps::Bitmap VhdSectorBitmaps::get(const ImageFile& file, std::uint64_t block, std::uint64_t at)
{
    {
        std::lock_guard lock(mutex_);
        if (auto found = cache_.find(block); found != cache_.end())
            return found->second;
    }
    // Read outside the lock: the file is read by position, and other threads
    // need not wait for this one's disk.
    auto bitmap = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(bytes_));
    int error = 0;
    if (file.readAt(at, *bitmap, error) < bitmap->size())
        return nullptr;
    std::lock_guard lock(mutex_);
    if ((cache_.size() + 1) * bytes_ > kMaxCachedBytes)
        cache_.clear();
    cache_.emplace(block, bitmap);
    return bitmap;
}

std::uint64_t VhdSectorBitmaps::runEnd(const std::vector<std::uint8_t>& bitmap, std::uint64_t first,
                                       std::uint64_t end, bool& present)
{
    present = bitOf(bitmap, first);
    const std::uint8_t same = present ? 0xFF : 0x00;
    std::uint64_t s = first + 1;
    while (s < end) {
        // Whole bytes of equal bits are passed over at once.
        if (s % 8 == 0 && s / 8 < bitmap.size() && bitmap[s / 8] == same && s + 8 <= end) {
            s += 8;
            continue;
        }
        if (bitOf(bitmap, s) != present)
            break;
        ++s;
    }
    return s;
}

} // namespace qis::vhd

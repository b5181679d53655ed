#include "recovery/carving/BudgetedReader.h"

#include "images/VolumeBytes.h"

#include <algorithm>
#include <cstring>

namespace qis::carve {

const std::vector<std::uint8_t>* BudgetedReader::chunk(std::uint64_t index)
{
    auto known = kept_.find(index);
    if (known != kept_.end())
        return &known->second;
    if (used_ + kChunk > budget_)
        return nullptr;
    used_ += kChunk;
    if (kept_.size() >= kKeptChunks)
        kept_.clear();
    std::vector<std::uint8_t> bytes(kChunk);
    // A chunk reaching past the disk's end is zeros there, as the disk reads.
    readVolumeBytes(inner_, index * kChunk, bytes);
    return &kept_.emplace(index, std::move(bytes)).first->second;
}

bool BudgetedReader::read(void* buffer, std::uint32_t length)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    bool ok = true;
    for (std::uint32_t done = 0; done < length;) {
        const std::uint64_t at = at_ + done;
        const std::size_t in = static_cast<std::size_t>(at % kChunk);
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk - in, length - done));
        const auto* bytes = chunk(at / kChunk);
        if (bytes == nullptr) {
            std::memset(out + done, 0, n);
            ok = false;
        } else {
            std::memcpy(out + done, bytes->data() + in, n);
        }
        done += static_cast<std::uint32_t>(n);
    }
    at_ += length / kSectorSize * kSectorSize;
    return ok;
}

} // namespace qis::carve

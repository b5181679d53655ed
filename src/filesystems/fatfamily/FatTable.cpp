#include "filesystems/fatfamily/FatTable.h"

#include "images/VolumeBytes.h"

#include <algorithm>

namespace qis {

FatTable::FatTable(readWriteInterface& reader, std::uint64_t offset, std::uint64_t bytes, unsigned entryBytes,
                   std::uint32_t mask, std::uint64_t clusterCount)
    : reader_(&reader), offset_(offset), bytes_(bytes), entryBytes_(entryBytes), mask_(mask)
{
    // A table shorter than the cluster count says holds entries for fewer clusters.
    std::uint64_t entries = bytes / entryBytes;
    limit_ = std::min<std::uint64_t>(clusterCount + 2, entries);
    limit_ = std::min<std::uint64_t>(limit_, std::uint64_t{mask} + 1);
}

const std::vector<std::uint8_t>* FatTable::page(std::uint64_t number)
{
    if (number == lastPageNumber_)
        return lastPage_;
    auto it = pages_.find(number);
    if (it == pages_.end()) {
        if (pages_.size() >= kMaxPages) {
            pages_.clear(); // a bound on memory; the pages are read again when needed
            lastPage_ = nullptr;
        }
        std::uint64_t start = number * kPageBytes;
        if (start >= bytes_)
            return nullptr;
        std::vector<std::uint8_t> data(static_cast<std::size_t>(std::min(kPageBytes, bytes_ - start)));
        readVolumeBytes(*reader_, offset_ + start, data);
        it = pages_.emplace(number, std::move(data)).first;
    }
    lastPageNumber_ = number;
    lastPage_ = &it->second;
    return lastPage_;
}

std::optional<std::uint32_t> FatTable::entry(std::uint32_t cluster)
{
    if (reader_ == nullptr || cluster >= limit_)
        return std::nullopt;
    std::uint64_t at = std::uint64_t{cluster} * entryBytes_;
    const std::vector<std::uint8_t>* p = page(at / kPageBytes);
    std::size_t in = static_cast<std::size_t>(at % kPageBytes);
    if (p == nullptr || in + entryBytes_ > p->size())
        return std::nullopt;
    std::uint32_t value = 0;
    for (unsigned i = entryBytes_; i-- > 0;)
        value = (value << 8) | (*p)[in + i];
    return value & mask_;
}

std::uint32_t FatTable::next(std::uint32_t cluster)
{
    if (!isCluster(cluster))
        return kEnd;
    auto value = entry(cluster);
    if (!value || !isCluster(*value))
        return kEnd;
    return *value;
}

bool ChainGuard::firstVisit(std::uint32_t cluster)
{
    if (few_.size() < 64) {
        if (std::find(few_.begin(), few_.end(), cluster) != few_.end())
            return false;
        few_.push_back(cluster);
        return true;
    }
    if (std::find(few_.begin(), few_.end(), cluster) != few_.end())
        return false;
    return many_.insert(cluster).second;
}

} // namespace qis

#pragma once

#include "recovery/carving/DiskView.h"

#include <cstdint>
#include <map>
#include <vector>

namespace qis::carve {

// The disk as a fragment search sees it: the chunks it has read are kept,
// since every (split, gap) it tries reads the same bytes again through
// another layout, and what it may read from the disk is bounded; past the
// budget every read gives zeros and fails, so the search ends.
class BudgetedReader : public DiskView {
public:
    BudgetedReader(readWriteInterface& inner, std::uint64_t budget) : DiskView(inner), budget_(budget) {}
    bool read(void* buffer, std::uint32_t length) override;
    // Bytes read from the disk so far.
    [[nodiscard]] std::uint64_t used() const { return used_; }

private:
    static constexpr std::uint64_t kChunk = 65536;
    static constexpr std::size_t kKeptChunks = 256;
    const std::vector<std::uint8_t>* chunk(std::uint64_t index);

    std::uint64_t budget_;
    std::uint64_t used_ = 0;
    std::map<std::uint64_t, std::vector<std::uint8_t>> kept_;
};

} // namespace qis::carve

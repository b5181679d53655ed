#pragma once

#include "recovery/carving/DiskView.h"

#include <cstdint>
#include <mutex>

namespace qis::carve {

// One view of a disk that several threads read at once: each view keeps
// its own position. Reads and allocation queries go to the disk by
// position when it serves several threads at once, else under one lock
// shared by all the views of it. Offsets are the disk's.
class SharedReader : public DiskView {
public:
    SharedReader(readWriteInterface& inner, std::mutex& lock) : DiskView(inner), lock_(lock) {}
    bool read(void* buffer, std::uint32_t length) override;
    std::uint64_t allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated) override;

private:
    std::mutex& lock_;
};

} // namespace qis::carve

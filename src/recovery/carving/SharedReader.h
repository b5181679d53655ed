#pragma once

#include "images/readWriteInterface.h"

#include <cstdint>
#include <mutex>

namespace qis::carve {

// One view of a disk that several threads read at once: each view keeps
// its own position, and every read and allocation query goes to the disk
// under one lock shared by all the views of it. Offsets are the disk's.
class SharedReader : public readWriteInterface {
public:
    SharedReader(readWriteInterface& inner, std::mutex& lock) : inner_(inner), lock_(lock)
    {
        diskSectorCount = inner.diskSectorCount;
    }
    bool open(std::filesystem::path) override { return true; }
    bool seek(std::int64_t offset, std::int32_t origin) override;
    bool read(void* buffer, std::uint32_t length) override;
    std::uint64_t allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated) override;

private:
    readWriteInterface& inner_;
    std::mutex& lock_;
    std::uint64_t at_ = 0;
};

} // namespace qis::carve

#pragma once

#include "images/readWriteInterface.h"

#include <cstdint>

namespace qis::carve {

// A reader in front of another that keeps its own position: what it reads
// comes from the other reader at that position, offsets being the other's.
class DiskView : public readWriteInterface {
public:
    explicit DiskView(readWriteInterface& inner) : inner_(inner) { diskSectorCount = inner.diskSectorCount; }
    bool open(std::filesystem::path) override { return true; }
    bool seek(std::int64_t offset, std::int32_t) override
    {
        if (offset < 0)
            return false;
        at_ = static_cast<std::uint64_t>(offset) / kSectorSize * kSectorSize;
        return true;
    }

protected:
    readWriteInterface& inner_;
    std::uint64_t at_ = 0;
};

} // namespace qis::carve

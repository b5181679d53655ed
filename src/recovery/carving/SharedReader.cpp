#include "recovery/carving/SharedReader.h"

#include "images/VolumeBytes.h"

#include <span>

namespace qis::carve {

bool SharedReader::read(void* buffer, std::uint32_t length)
{
    bool ok = false;
    const std::span out(static_cast<std::uint8_t*>(buffer), length);
    if (inner_.readsConcurrently()) {
        ok = inner_.readAt(at_, out);
    } else {
        const std::lock_guard<std::mutex> hold(lock_);
        ok = readVolumeBytes(inner_, at_, out);
    }
    at_ += length / kSectorSize * kSectorSize;
    return ok;
}

std::uint64_t SharedReader::allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated)
{
    if (inner_.readsConcurrently())
        return inner_.allocationRun(offset, maxBytes, allocated);
    const std::lock_guard<std::mutex> hold(lock_);
    return inner_.allocationRun(offset, maxBytes, allocated);
}

} // namespace qis::carve

#include "images/raw/FileReadSeekRaw.h"

#include "util/CheckedMath.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace qis {

bool FileReadSeekRaw::open(std::filesystem::path path)
{
    if (!file_.open(path)) {
        showMessage("Invalid handle ...");
        return false;
    }
    imageLength = file_.size();
    diskSectorCount = ceilDiv(imageLength, kSectorSize);
    return true;
}

std::uint64_t FileReadSeekRaw::allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated)
{
    const std::uint64_t run = BlockMappedReader::allocationRun(offset, maxBytes, allocated);
    std::int64_t at = 0;
    if (!allocated || run == 0 || __builtin_add_overflow(baseOffset, offset, &at) || at < 0 ||
        static_cast<std::uint64_t>(at) >= imageLength)
        return run;
    // Holes lie on the file system's blocks, whole sectors; the end of the
    // file counts as a hole, but its last sector is part of the data.
    auto toSectorEnd = [&](off_t to) {
        const std::uint64_t end = static_cast<std::uint64_t>(to) >= imageLength ? ceilDiv(imageLength, kSectorSize) * kSectorSize
                                                                              : static_cast<std::uint64_t>(to);
        return std::min(run, end - static_cast<std::uint64_t>(at));
    };
    const int fd = file_.descriptor();
    const off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
    if (data < 0) {
        // A hole from here to the end of the file; otherwise the system
        // cannot tell, and all is data.
        if (errno == ENXIO)
            allocated = false;
        return run;
    }
    if (data > at) {
        allocated = false;
        return std::min<std::uint64_t>(run, static_cast<std::uint64_t>(data - at));
    }
    const off_t hole = ::lseek(fd, static_cast<off_t>(at), SEEK_HOLE);
    if (hole <= at)
        return run;
    return toSectorEnd(hole);
}

std::optional<SectorRun> FileReadSeekRaw::mapSector(std::uint64_t sector)
{
    if (sector >= diskSectorCount)
        return std::nullopt;
    return SectorRun{true, sector * kSectorSize, diskSectorCount - sector};
}

} // namespace qis

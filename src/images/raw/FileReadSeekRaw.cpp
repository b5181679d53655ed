#include "images/raw/FileReadSeekRaw.h"

#include "util/CheckedMath.h"

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

std::optional<SectorRun> FileReadSeekRaw::mapSector(std::uint64_t sector)
{
    if (sector >= diskSectorCount)
        return std::nullopt;
    return SectorRun{true, sector * kSectorSize, diskSectorCount - sector};
}

} // namespace qis

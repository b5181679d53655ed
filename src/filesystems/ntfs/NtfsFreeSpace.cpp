// The clusters $Bitmap leaves free, as the space a carve of the volume's
// free space reads.

#include "filesystems/FreeSpace.h"
#include "filesystems/ntfs/Ntfs.h"

namespace qis {

std::optional<std::vector<ByteRun>> ntfs::unallocatedSpace()
{
    if (!loadClusterBitmap())
        return std::nullopt;
    const std::uint64_t cluster = bytesPerCluster ? bytesPerCluster : 4096;
    FreeSpaceRuns runs(volumeSize);
    clusterBitmap_.forEachFreeRun(UINT64_MAX, [&](std::uint64_t first, std::uint64_t count) {
        runs.addUnits(0, first, count, cluster);
    });
    return runs.take();
}

} // namespace qis

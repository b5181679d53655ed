#include "filesystems/fat/Fat32Class.h"

namespace qis {

Fat32Class::Fat32Class(readWriteInterface& reader)
    : FatVolume(reader, Flavour{"Fat32", "Selected Drive is not in Fat32 Format", "Scanning process completed.",
                                true, false, fatscan::TableSignature::Fat32, 4, 0x0FFFFFFF})
{
}

bool Fat32Class::checkBootSector()
{
    if (!readBootSector() || bpb->fatSize16 != 0 || bpb->fatSize32 == 0) {
        bpb.reset();
        return false;
    }
    sectorsPerCluster = bpb->sectorsPerCluster;
    return true;
}

void Fat32Class::parseRootDirectory(JobContext& job)
{
    // A root cluster outside the volume is damage; cluster 2 is where
    // formatting tools put the root.
    if (bpb && !advancedMode)
        rootCluster = fat.isCluster(bpb->rootCluster) ? bpb->rootCluster : 2;
    parseDirectory(0, rootCluster, true, 0, job);
}

} // namespace qis

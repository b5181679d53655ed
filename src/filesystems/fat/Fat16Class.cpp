#include "filesystems/fat/Fat16Class.h"

#include "filesystems/VolumeBytes.h"

namespace qis {

Fat16Class::Fat16Class(readWriteInterface& reader)
    : FatVolume(reader, Flavour{"Fat16", "Selected Drive is not in Fat16 Format", "Scanning process completed...",
                                false, true, 2, 0xFFFF})
{
}

bool Fat16Class::checkBootSector()
{
    if (!readBootSector() || bpb->fatSize16 == 0) {
        bpb.reset();
        return false;
    }
    sectorsPerCluster = bpb->sectorsPerCluster;
    return true;
}

void Fat16Class::parseRootDirectory(JobContext& job)
{
    rootDirectoryOffset = std::uint64_t{bpb->bytesPerSector} * (bpb->reservedSectors + std::uint64_t{bpb->fatCount} * bpb->fatSize16);
    rootDirectoryBytes = std::uint64_t{bpb->rootEntryCount} * fatdisk::kSlotSize;
    appendDummyEntry();
    std::vector<std::uint8_t> root(static_cast<std::size_t>(rootDirectoryBytes));
    readVolumeBytes(*reader, rootDirectoryOffset, root);
    DirectoryState state;
    parseSlots(root, 0, state);
    enterSubfolders(state, 0, job);
}

} // namespace qis

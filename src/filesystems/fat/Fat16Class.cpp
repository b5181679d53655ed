#include "filesystems/fat/Fat16Class.h"

#include "images/VolumeBytes.h"

#include <algorithm>

namespace qis {

Fat16Class::Fat16Class(readWriteInterface& reader)
    : FatVolume(reader, Flavour{"Fat16", "Selected Drive is not in Fat16 Format", "Scanning process completed...",
                                false, true, fatscan::TableSignature::Fat16, 2, 0xFFFF})
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
    if (bpb && !advancedMode) {
        rootDirectoryOffset = std::uint64_t{bpb->bytesPerSector} *
                              (bpb->reservedSectors + std::uint64_t{bpb->fatCount} * bpb->fatSize16);
        rootDirectoryBytes = std::uint64_t{bpb->rootEntryCount} * fatdisk::kSlotSize;
    }
    std::vector<std::uint8_t> root(static_cast<std::size_t>(rootDirectoryBytes));
    readVolumeBytes(*reader, rootDirectoryOffset, root);
    if (advancedMode) {
        // Where the root begins is a guess: what lies before it (the end
        // of a FAT) must not pass for entries.
        for (std::size_t at = 0; at + fatdisk::kSlotSize <= root.size(); at += fatdisk::kSlotSize) {
            auto slot = std::span(root).subspan(at, fatdisk::kSlotSize);
            if (!fatscan::plausibleDirectorySlot(slot, fat.clusterCount()))
                std::fill(slot.begin(), slot.end(), 0);
        }
    }
    DirectoryState state;
    parseSlots(root, rootDirectoryOffset, 0, state);
    enterSubfolders(state, 0, job);
}

void Fat16Class::placeAdvancedRoot()
{
    // Formatters give the root 512 entries; when the FAT copies were found
    // one after the other, the root fills the space from the last copy to
    // the data region instead.
    constexpr std::uint64_t kUsualRootBytes = 16384;
    constexpr std::uint64_t kLargestRootBytes = 65536 * fatdisk::kSlotSize;
    if (advancedFatEnd != 0 && advancedFatEnd < dataRegionOffset &&
        dataRegionOffset - advancedFatEnd <= kLargestRootBytes) {
        rootDirectoryOffset = advancedFatEnd;
        rootDirectoryBytes = dataRegionOffset - advancedFatEnd;
        return;
    }
    rootDirectoryBytes = std::min(kUsualRootBytes, dataRegionOffset);
    rootDirectoryOffset = dataRegionOffset - rootDirectoryBytes;
}

} // namespace qis

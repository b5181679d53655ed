#pragma once

#include "filesystems/VolumeBoundSink.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/VolumeSweep.h"
#include "filesystems/fatfamily/TableLinks.h"

#include <string>
#include <utility>

namespace qis {

// A FAT16, FAT32 or exFAT table seen through the common parser shape. The
// tables link by index, with record 0 standing for the root. Each record
// type says whether it is deleted through an `entryIsDeleted` beside it, so
// this view needs neither parser's headers.
template <typename Volume>
class FatFamilyView : public VolumeParser {
public:
    explicit FatFamilyView(Volume& volume) : volume_(volume) {}

    [[nodiscard]] std::vector<EntryHandle> topLevel() const override
    {
        auto top = volume_.topLevelEntries();
        return {top.begin(), top.end()};
    }
    [[nodiscard]] EntryHandle firstChild(EntryHandle entry) const override
    {
        return valid(entry) ? link(volume_.entryList[entry].firstChild) : kNoEntry;
    }
    [[nodiscard]] EntryHandle nextSibling(EntryHandle entry) const override
    {
        return valid(entry) ? link(volume_.entryList[entry].nextSibling) : kNoEntry;
    }
    [[nodiscard]] std::u16string name(EntryHandle entry) const override
    {
        return valid(entry) ? volume_.entryList[entry].name : std::u16string();
    }
    [[nodiscard]] bool isFolder(EntryHandle entry) const override
    {
        return valid(entry) && volume_.isFolder(static_cast<std::uint32_t>(entry));
    }
    [[nodiscard]] bool isDeleted(EntryHandle entry) const override
    {
        return valid(entry) && entryIsDeleted(volume_.entryList[entry]);
    }
    // The position of the entry's directory entry; nullopt for the records
    // the scan makes up (the root, ORPHAN ENTRY).
    [[nodiscard]] std::optional<std::uint64_t> entryNumber(EntryHandle entry) const override
    {
        if (!valid(entry) || entrySlotNumber(volume_.entryList[entry]) == 0)
            return std::nullopt;
        return entrySlotNumber(volume_.entryList[entry]);
    }
    EntryDetails describe(EntryHandle entry) override
    {
        return valid(entry) ? volume_.describeEntry(static_cast<std::uint32_t>(entry)) : EntryDetails{};
    }
    Recoverability recoverability(EntryHandle entry) override
    {
        return valid(entry) ? volume_.entryRecoverability(static_cast<std::uint32_t>(entry)) : Recoverability::Live;
    }
    [[nodiscard]] std::u16string outputName(EntryHandle entry) const override { return trimBlanks(name(entry)); }
    bool saveEntry(EntryHandle entry, DataSink& out) override
    {
        auto whole = saveGuess(entry, 0, out);
        return whole && *whole;
    }
    // Every reading, the first too, is bounded by the volume's size.
    std::optional<bool> saveGuess(EntryHandle entry, std::size_t reading, DataSink& out) override
    {
        if (!valid(entry))
            return std::nullopt;
        const std::uint64_t volumeBytes = this->volumeBytes();
        std::optional<bool> read;
        const bool whole = saveWithinVolume(out, volumeBytes, [&](DataSink& bounded) {
            read = volume_.saveGuessedContents(static_cast<std::uint32_t>(entry), reading, bounded);
            return read.value_or(false);
        });
        if (!read)
            return std::nullopt;
        return whole;
    }
    void rename(EntryHandle entry, std::u16string name) override
    {
        if (valid(entry))
            volume_.entryList[entry].name = std::move(name);
    }
    // A deleted FAT entry keeps its first cluster (its chain is what is
    // cleared), so where its data began is still known.
    std::optional<std::uint64_t> firstDataByte(EntryHandle entry) override
    {
        if (!valid(entry) || isFolder(entry) || volume_.clusterBytes == 0)
            return std::nullopt;
        const auto& r = volume_.entryList[entry];
        const std::uint32_t cluster = entryFirstCluster(r);
        if (cluster < 2 || entryDataSize(r) == 0)
            return std::nullopt;
        return volume_.clusterOffset(cluster);
    }

    std::optional<std::vector<ByteRun>> unallocatedSpace() override { return volume_.unallocatedSpace(volumeBytes()); }

private:
    // The standard scan takes the volume's size from the list only when it needs it.
    [[nodiscard]] std::uint64_t volumeBytes() const
    {
        return volume_.volumeSize != 0 ? volume_.volumeSize : volumeReachFromSizeText(volume_.volumeSizeText);
    }
    [[nodiscard]] bool valid(EntryHandle entry) const { return entry > 0 && entry < volume_.entryList.size(); }
    [[nodiscard]] EntryHandle link(std::uint32_t index) const { return valid(index) ? index : kNoEntry; }

    Volume& volume_;
};

} // namespace qis

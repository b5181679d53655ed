#pragma once

#include "filesystems/AllocationBitmap.h"
#include "filesystems/ScanProblems.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/hfsplus/HfsEntry.h"
#include "filesystems/hfsplus/HfsStructures.h"
#include "images/readWriteInterface.h"
#include "jobs/JobRunner.h"
#include "util/DataSink.h"

#include <atomic>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace qis {

// An HFS+ (or HFSX) volume: the catalog B-tree's folder and file records,
// the extents overflow records, linked by parent ID. Deep mode finds
// catalog leaf nodes anywhere on the volume and hangs what it finds under
// "ORPHAN_ENTRY".
class HFSP {
public:
    explicit HFSP(readWriteInterface& reader) : reader(&reader) {}
    HFSP(const HFSP&) = delete;
    HFSP& operator=(const HFSP&) = delete;

    readWriteInterface* reader;
    std::uint64_t volumeStartSector = 0;
    std::string volumeSizeText; // MiB as the volume list shows it
    std::uint64_t volumeSize = 0;
    bool deepMode = false;
    std::atomic<bool> stopRequested{false};
    // What the scan could not read: the tree it leaves is partial.
    ScanProblems problems;

    hfsdisk::VolumeHeader header;
    std::uint64_t blockSize = 0;
    std::uint16_t catalogNodeSize = 0;
    std::uint16_t extentsNodeSize = 0;
    std::vector<NodeInfo> catalogNodes;
    std::vector<NodeInfo> extentsNodes;
    // (file ID, start block) → the data fork's extents from that block on.
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<hfsdisk::Extent>> overflowIndex;
    std::map<std::int64_t, HfsEntry> entryMap;
    bool absolutePositions = false;
    std::int64_t orphanKey = -1;

    void attachVolume();
    bool readVolumeHeader();
    bool readCatalogNodes(JobContext& job);
    bool scanCatalogNodes(JobContext& job);
    bool readExtentsOverflow(JobContext& job);
    void readCatalogRecords(JobContext& job);
    void linkEntries(JobContext& job);
    // The passes in order; false (with the status shown) when the volume
    // cannot be read as HFS+.
    bool runScan(JobContext& job);

    [[nodiscard]] std::vector<std::int64_t> topLevelEntries() const;
    [[nodiscard]] const HfsEntry* entry(std::int64_t key) const;
    EntryDetails describeEntry(std::int64_t key) const;
    // Writes the file's data fork, following its overflow extents. Blocks
    // of a deleted file that the allocation file now gives to another are
    // written as zeros, and the file counts as incomplete.
    bool saveEntryContents(std::int64_t key, DataSink& out);
    // Live, or for a deleted file whole when every block its extents map
    // (up to its size) is free in the allocation file, else partly
    // overwritten.
    Recoverability recoverability(std::int64_t key);
    // The allocation blocks the allocation file marks free, as byte runs
    // from the volume's start; nullopt when the volume has no allocation file.
    std::optional<std::vector<ByteRun>> unallocatedSpace();

private:
    // The extents of a special file's fork: the header's eight, then its
    // overflow records.
    std::vector<hfsdisk::Extent> forkExtents(std::uint32_t fileId, const hfsdisk::ForkData& fork) const;
    // Bytes at an offset within a fork, through its extents.
    bool readFork(const std::vector<hfsdisk::Extent>& extents, std::uint64_t offset, std::span<std::uint8_t> out);
    bool readNodes(const std::vector<hfsdisk::Extent>& extents, std::uint16_t nodeSize, std::vector<NodeInfo>& nodes,
                   bool failOnBadHeader, JobContext& job);
    bool readNode(const NodeInfo& node, std::span<std::uint8_t> out);
    // Allocation blocks of the volume: the header's count, no more than the volume list's size.
    [[nodiscard]] std::uint64_t volumeBlocks() const;

    // Which leaf nodes the live tree links, by their place in catalogNodes.
    [[nodiscard]] std::vector<bool> linkedLeaves() const;
    // Deleted entries whose folder is nowhere go under ORPHAN_ENTRY.
    void adoptOrphans();
    // ORPHAN_ENTRY, keyed after every entry found, under the root.
    void addOrphanFolder();
    // The allocation file, a piece at a time as blocks are asked about.
    AllocationBitmap& allocationBitmap();
    [[nodiscard]] bool anyBlockInUse(std::uint64_t block, std::uint64_t count);
    [[nodiscard]] std::vector<hfsdisk::Extent> entryExtents(const HfsEntry& e) const;

    std::vector<hfsdisk::Extent> catalogExtents_;
    std::uint32_t firstLeafNode_ = 0;
    std::vector<hfsdisk::Extent> allocationExtents_;
    bool allocationRead_ = false;
    AllocationBitmap allocation_;
};

// "-Owner:X-Owner:W-Owner:R-OX-OW-OR-GX-GW-GR", the mode bits set in that order.
std::string hfsModeText(std::uint16_t mode);

} // namespace qis

#pragma once

#include "filesystems/AllocationBitmap.h"
#include "filesystems/ScanProblems.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/ntfs/NtfsEntryRecord.h"
#include "filesystems/ntfs/NtfsStructures.h"
#include "images/readWriteInterface.h"
#include "jobs/JobRunner.h"

#include "platform/OutputFolder.h"

#include <array>
#include <atomic>
#include <span>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace qis {

// An NTFS volume read through the disk reader: its MFT, every record slot
// in MFT order, and the tree those records link into.
class ntfs {
public:
    explicit ntfs(readWriteInterface& reader) : reader(&reader) {}

    readWriteInterface* reader;
    std::uint64_t volumeStartSector = 0;
    std::string volumeSizeText; // MiB as the volume list shows it
    std::uint64_t volumeSize = 0;
    std::array<std::uint8_t, 512> bootSector{};
    std::uint64_t bytesPerCluster = 0;
    std::vector<std::uint8_t> recordBuffer = std::vector<std::uint8_t>(ntfsdisk::kRecordSize);
    std::vector<ntfsdisk::DataRun> mftRuns;
    bool mftReady = false;
    std::vector<NtfsEntryRecord> entryList;
    std::int64_t orphanIndex = -1;
    std::uint64_t rootIndex = 0;
    int scanMode = 1; // 1 standard, 2 advanced, 3 deep
    std::atomic<bool> stopRequested{false};
    // What the scan could not read: the tree it leaves is partial.
    ScanProblems problems;

    // Copies of the MFT's first record found by the candidate search, and
    // whether the first-record search still looks for the MFT by name (only
    // until a candidate search has run on this object).
    std::vector<NtfsEntryRecord> mftCandidates;
    bool checkMftName = true;

    void attachVolume();
    // Sector 0, or the backup copy at the volume's end when sector 0 is not
    // an NTFS boot sector; volumeSize from it (else from the volume list).
    bool readBootSector();
    bool locateMft(JobContext& job);
    // The 1024-byte record at recordOffset with its fixups applied.
    bool readRecordFixed(std::uint64_t recordOffset, std::span<std::uint8_t> out);
    std::vector<ntfsdisk::DataRun> decodeRunList(std::uint64_t recordOffset, std::uint32_t attributeType);
    void readMftRecords(JobContext& job);
    void parseRecord(std::uint64_t recordOffset, std::uint64_t index);
    // The same for a record already read (fixups not yet applied).
    void parseRecordBytes(std::span<std::uint8_t> record, std::uint64_t index);
    void parseAllRecords(JobContext& job);

    void linkIntoParent(std::uint64_t index);
    void linkOrphans();
    // The root folder's children as the tree's top level, ORPHAN_ENTRY last.
    [[nodiscard]] std::vector<std::uint64_t> topLevelEntries() const;

    // The searches of a damaged volume, reading it whole in 10 MiB chunks
    // and testing every 512-byte position for a record.
    // Standard mode without an NTFS boot sector: the MFT from the first
    // record named like it; false (with the records found kept) when none is.
    bool findFirstMftRecord(JobContext& job);
    // Deep mode: every named record anywhere on the volume; always false.
    bool deepScan(JobContext& job);
    // Advanced mode: copies of the MFT's first record, up to `wanted`.
    std::size_t findMftCandidates(std::size_t wanted, JobContext& job);
    // The MFT's runs from candidate `choice`; false when it has none.
    bool useCandidate(std::size_t choice);

    // The scan of the mode (standard or deep) from attach to linked tree.
    // False when the volume holds neither an NTFS boot sector nor an MFT record.
    bool runScan(JobContext& job);
    // The advanced scan: the MFT from a candidate found by findMftCandidates,
    // read with clusters of sectorsPerCluster × 512 bytes (0 keeps the
    // boot sector's).
    void runAdvancedScan(JobContext& job, std::size_t choice, unsigned sectorsPerCluster);

    // The unnamed data stream of a record, gathered from the record itself
    // or from the extension records its $ATTRIBUTE_LIST names.
    struct DataStream {
        bool found = false;
        bool resident = false;
        std::vector<std::uint8_t> value;     // resident data
        std::vector<ntfsdisk::DataRun> runs; // non-resident data, in VCN order
        std::uint64_t dataSize = 0;
        std::uint64_t initializedSize = 0;
        std::uint16_t compressionUnit = 0;
        std::uint16_t flags = 0; // attribute flags: 0x0001 compressed, 0x4000 encrypted
        // A piece of the runs is in an extension record that is gone or
        // now another file's: zeros stand in for it.
        bool missingPieces = false;
    };
    DataStream dataStream(std::uint64_t index);

    // The MFT number of the record at a table position: the position itself
    // when the table was read from the MFT; for a record a search found, the
    // number its header carries (nullopt when it carries none, and for
    // ORPHAN_ENTRY and the search table's empty first slot).
    [[nodiscard]] std::optional<std::uint64_t> recordNumber(std::uint64_t index) const;

    // Writes the record's contents to `out` (a folder writes nothing) and
    // returns whether every byte could be read; unreadable clusters are zeros.
    bool saveEntry(std::uint64_t index, DataSink& out);

    // How much of a record's data a save brings back: for a deleted file,
    // whether every cluster its runs map up to its size is still free in
    // $Bitmap. Judged once per record.
    Recoverability recoverability(std::uint64_t index);
    // The clusters $Bitmap marks free, as byte runs from the volume's
    // start; nullopt when $Bitmap cannot be found.
    std::optional<std::vector<ByteRun>> unallocatedSpace();

private:
    std::uint64_t listedVolumeSize() const;
    bool readBackupBootSector();
    void linkRecord(std::uint64_t index);
    void addRootAndOrphans();
    // A folder that is its own ancestor leaves its parent's chain and
    // becomes an orphan, so it and what it holds stay in the tree.
    void cutParentLoops();
    void unlinkFromParent(std::uint64_t index);
    void relinkDeep();

    // Where a record of the given MFT number is on the volume: its table
    // position when the table was read from the MFT, otherwise where the
    // search met a record carrying that number.
    std::optional<std::uint64_t> recordOffsetOf(std::uint64_t number) const;

    // Search support: a table that starts with an empty slot (position 0
    // links nothing), the records of one chunk tested and parsed, their
    // MFT numbers remembered; and what the search ends with.
    void beginSearch();
    // Appends and parses the record at `offset` (its bytes from `bytes` when
    // they hold all of it, else read again); its table position.
    std::uint64_t appendFoundRecord(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    void endSearch();
    // The MFT's runs and cluster size from a record named "$MFT" or
    // "$MFTMirr" found at `offset`; empty when they cannot be made out.
    std::vector<ntfsdisk::DataRun> mftRunsFromFoundRecord(std::uint64_t index);
    // The cluster size at which `runs` (the $MFT's own) lead back to the
    // MFT at mftStart, or to a record holding the same runs.
    std::optional<std::uint64_t> clusterSizeFor(const std::vector<ntfsdisk::DataRun>& runs,
                                                std::uint64_t mftStart);
    // Parent references are MFT numbers; in a table built by a search they
    // become positions where a record of that number was found.
    void linkFoundRecords();
    std::uint64_t searchSize() const;

    std::vector<std::uint64_t> lastChild_; // append point of each chain
    bool searching_ = false;               // a search is filling the table
    bool foundBySearch_ = false;           // the table comes from a search, not the MFT
    // Records a search found (its table starts with a placeholder at position 0).
    [[nodiscard]] std::size_t foundRecords() const { return entryList.empty() ? 0 : entryList.size() - 1; }
    // Names met in extension records during a search, by base record number.
    struct ExtensionName {
        std::u16string name;
        std::uint64_t parent = 0;
        std::uint64_t nameSize = 0;
        bool folder = false;
    };
    std::unordered_map<std::uint64_t, ExtensionName> extensionNames_;
    // Gives the records found without a name of their own the names their
    // extension records carry.
    void applyExtensionNames();
    // Drops the records that have no name, keeping the table's order.
    void dropUnnamedRecords();
    std::unordered_map<std::uint64_t, std::uint64_t> offsetByNumber_;

    // The cluster bitmap, found once and read a piece at a time on demand.
    enum class BitmapState : std::uint8_t { NotRead, Read, Missing };
    BitmapState bitmapState_ = BitmapState::NotRead;
    std::vector<ntfsdisk::DataRun> bitmapRuns_;
    std::uint64_t bitmapBytes_ = 0;
    AllocationBitmap clusterBitmap_;
    std::unordered_map<std::uint64_t, Recoverability> recoverabilityOf_;
    bool loadClusterBitmap();
    void readBitmapBytes(std::uint64_t offset, std::span<std::uint8_t> out);
    Recoverability judgeRecoverability(std::uint64_t index);
    std::unordered_map<std::uint64_t, std::uint64_t> numberOfPosition_;
};

} // namespace qis

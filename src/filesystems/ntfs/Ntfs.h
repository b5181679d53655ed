#pragma once

#include "filesystems/ntfs/NtfsEntryRecord.h"
#include "filesystems/ntfs/NtfsStructures.h"
#include "images/readWriteInterface.h"
#include "recovery/JobRunner.h"

#include "platform/OutputFolder.h"

#include <array>
#include <atomic>
#include <span>
#include <string>
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

    void attachVolume();
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

    // The standard scan (or deep, once that exists) from attach to linked tree.
    void runScan(JobContext& job);

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
    };
    DataStream dataStream(std::uint64_t index);

    // Writes the record's contents to `out` (a folder writes nothing) and
    // returns whether every byte could be read; unreadable clusters are zeros.
    bool saveEntry(std::uint64_t index, DataSink& out);

private:
    void linkRecord(std::uint64_t index);
    void addRootAndOrphans();
    std::vector<std::uint64_t> lastChild_; // append point of each chain
};

} // namespace qis

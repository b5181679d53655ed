#include "volumes/BackupBootRecord.h"
#include "volumes/BootRecord.h"
#include "volumes/Partition.h"
#include "volumes/VolumeIdentification.h"

#include <algorithm>
#include <map>
#include <vector>

namespace qis {
namespace {

constexpr std::uint64_t kChunkSectors = 2048; // 1 MiB
constexpr std::uint64_t kHfsPlusMaxMebibytes = 0x13FFFFF;

struct Found {
    const char* fileSystem = nullptr; // null: not added
    std::string status;
    std::string sizeText;
    std::uint64_t sizeSectors = 0;
    std::int64_t startSector = 0;
};

Found judge(const BootRecord& r, bool earlier, std::int64_t sector, Partition& partition)
{
    Found f;
    std::uint64_t mebibytes = r.sizeBytes / 1048576;
    f.sizeSectors = r.sizeBytes / 512;
    f.startSector = earlier ? sector - 2 : sector;
    switch (r.kind) {
    case BootRecordKind::Ntfs:
        if (mebibytes > 0) {
            f.status = "found NTFS " + std::to_string(++partition.ntfsCount) + "...";
            f.fileSystem = "NTFS";
            f.sizeText = sizeTextWide(mebibytes);
        }
        return f;
    case BootRecordKind::Exfat: f.status = "found FAT 64..."; break;
    case BootRecordKind::Fat32: f.status = "found FAT 32..."; break;
    case BootRecordKind::Fat16: f.status = "found FAT 16..."; break;
    case BootRecordKind::Fat12: break;
    case BootRecordKind::UnknownFat: f.status = "found unknown..."; return f;
    case BootRecordKind::HfsPlus:
        if (mebibytes == 0 || mebibytes - 1 >= kHfsPlusMaxMebibytes)
            return f;
        f.status = "found HFS+...";
        break;
    case BootRecordKind::Ext: f.status = "found extX..."; break;
    case BootRecordKind::None: return f;
    }
    if (mebibytes > 0 && f.startSector >= 0) {
        f.fileSystem = bootRecordLabel(r.kind);
        f.sizeText = sizeTextNarrow(mebibytes);
    }
    return f;
}

} // namespace

void searchBootSectors(readWriteInterface& reader, Partition& partition, std::uint64_t diskSectorCount,
                       JobContext& job)
{
    JobReporter& reporter = job.reporter();
    reporter.setStatusText("Scanning partition.....");
    partition.stopRequested.store(false);

    std::uint64_t s = partition.scanStartSector > 0 ? static_cast<std::uint64_t>(partition.scanStartSector) : 0;
    // The end limit is tested against the start of each chunk, so the chunk
    // in which it falls is searched whole.
    const bool limited = partition.scanEndSector > 0;
    const std::uint64_t end = limited ? static_cast<std::uint64_t>(partition.scanEndSector) : 0;
    reporter.setProgressRange(0, 1000);
    reader.baseOffset = 0;

    std::vector<std::uint8_t> buffer(kChunkSectors * 512);
    std::uint64_t added = 0;
    // Volumes added so far by their start, so that a backup copy found after
    // its primary does not list the volume a second time.
    std::map<std::int64_t, std::size_t> listedStarts;
    auto add = [&](VolumeRecord record) {
        if (!record.note.empty())
            reporter.setStatusText("Volume " + record.volumeName + ": " + record.note + ".");
        partition.volumeList.push_back(record);
        if (partition.volumeAdded)
            partition.volumeAdded(record);
    };
    auto reportProgress = [&] {
        double done = std::min(1.0, static_cast<double>(s) / static_cast<double>(diskSectorCount));
        reporter.setProgressPos(static_cast<std::int32_t>(done * 1000));
    };
    while (s < diskSectorCount) {
        if (limited && end < s)
            break;
        // The last chunk may be short: only sectors of the disk are read and tested.
        std::uint64_t n = std::min(kChunkSectors, diskSectorCount - s);
        // A chunk the image does not hold is zeros: no boot record to find.
        bool allocated = true;
        if (reader.allocationRun(static_cast<std::int64_t>(s * 512), n * 512, allocated) == n * 512 && !allocated) {
            if (job.stopSeen(partition.stopRequested)) {
                reporter.setStatusText("Scanned Partitions");
                break;
            }
            s += n;
            reportProgress();
            continue;
        }
        if (!reader.seek(static_cast<std::int64_t>(s * 512), 0) ||
            !reader.read(buffer.data(), static_cast<std::uint32_t>(n * 512)))
            return;
        std::uint64_t i = 0;
        bool stopped = false;
        for (; i < n; ++i) {
            if (job.stopSeen(partition.stopRequested)) {
                stopped = true;
                break;
            }
            const std::uint64_t at = s + i;
            const auto sector = std::span<const std::uint8_t>(buffer).subspan(i * 512, 512);
            bool earlier = false;
            BootRecord r = identifyBootRecordSector(sector, &earlier);
            // Sectors from the volume's start to an ext backup superblock found here.
            std::uint64_t extCopyDistance = 0;
            if (r.kind == BootRecordKind::None) {
                // Backup superblocks matter only when the primary is gone: a
                // copy of a volume already listed is passed over quietly.
                r = identifyExtBackupSector(sector, &extCopyDistance);
                if (r.kind == BootRecordKind::None || extCopyDistance > at ||
                    listedStarts.count(static_cast<std::int64_t>(at - extCopyDistance)))
                    continue;
            } else if (r.kind == BootRecordKind::Ext && earlier && at >= 2 && !extPrimaryConfirmed(reader, at - 2, sector)) {
                continue; // a superblock copy inside a volume (its journal), not a volume's start
            }
            Found f = judge(r, earlier, static_cast<std::int64_t>(at), partition);
            if (!f.status.empty() && (f.fileSystem || r.kind != BootRecordKind::HfsPlus))
                reporter.setStatusText(f.status);
            if (!f.fileSystem)
                continue;
            const RecordPlacement place = earlier            ? RecordPlacement{f.startSector, false}
                                          : extCopyDistance ? RecordPlacement{static_cast<std::int64_t>(at - extCopyDistance), true}
                                                            : placeFoundRecord(reader, r.kind, sector, at);
            if (place.isBackup) {
                auto known = listedStarts.find(place.volumeStart);
                if (known != listedStarts.end() &&
                    partition.volumeList[known->second].fileSystem == std::string_view(f.fileSystem)) {
                    // The volume is listed already. Searching without skipping
                    // lists every copy, this one as the copy it is.
                    if (!partition.skipVolumes)
                        add({f.fileSystem, std::to_string(added++), f.sizeText, static_cast<std::int64_t>(at),
                             "backup boot sector of volume " + partition.volumeList[known->second].volumeName});
                    continue;
                }
                f.startSector = place.volumeStart;
            }
            VolumeRecord record{f.fileSystem, std::to_string(added++), f.sizeText, f.startSector};
            if (place.isBackup)
                record.note = std::string("found by its ") + (extCopyDistance ? "backup superblock" : "backup boot sector") +
                              " at sector " + std::to_string(at) + ", starts at sector " +
                              std::to_string(place.volumeStart);
            listedStarts.emplace(record.startSector, partition.volumeList.size());
            add(record);
            // Go on with the sector after the volume. An NTFS volume's size
            // leaves out its backup boot sector, which is skipped too; other
            // sizes cover the whole volume, and a volume may start right after.
            if (partition.skipVolumes) {
                std::uint64_t next = static_cast<std::uint64_t>(f.startSector) + f.sizeSectors +
                                     (r.kind == BootRecordKind::Ntfs ? 1 : 0);
                if (next > s + i + 1)
                    i = next - s - 1;
            }
        }
        if (stopped) {
            reporter.setStatusText("Scanned Partitions");
            break;
        }
        s += i;
        reportProgress();
    }
}

} // namespace qis

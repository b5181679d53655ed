#include "util/ByteReader.h"
#include "util/Utf.h"
#include "volumes/BackupBootRecord.h"
#include "volumes/BootRecord.h"
#include "volumes/Partition.h"
#include "volumes/PartitionTable.h"
#include "volumes/VolumeIdentification.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <set>
#include <vector>

namespace qis {
namespace {

constexpr std::uint64_t kMaxGptArrayBytes = 1u << 20;
constexpr int kMaxExtendedRecords = 50;
constexpr char16_t kMicrosoftReserved[] = u"Microsoft reserved partition";

int readError(readWriteInterface& reader) { return reader.lastError() != 0 ? reader.lastError() : EIO; }

void append(Partition& partition, std::string fileSystem, std::string sizeText, std::uint64_t startSector,
            std::string note = {}, std::uint64_t sectorCount = 0)
{
    VolumeRecord record;
    record.fileSystem = std::move(fileSystem);
    record.volumeName = std::to_string(partition.volumeList.size());
    record.sizeText = std::move(sizeText);
    record.startSector = static_cast<std::int64_t>(startSector);
    record.note = std::move(note);
    record.sectorCount = sectorCount;
    partition.volumeList.push_back(record);
}

// A table entry is only a claim: one that points past the end of the disk
// (a table from a larger disk, a cut-short image, random bytes read as a
// table) describes nothing that can be read there. Mostly past it, the
// volume is not offered; only its tail past it, it is read with a note.
void flagVolumesBeyondDisk(std::vector<VolumeRecord>& volumes, std::size_t from, std::uint64_t diskSectors)
{
    for (std::size_t i = from; i < volumes.size() && diskSectors > 0; ++i) {
        VolumeRecord& v = volumes[i];
        if (v.sectorCount == 0 || v.startSector < 0 || !v.problem.empty())
            continue;
        const auto start = static_cast<std::uint64_t>(v.startSector);
        const std::string disk = " (the disk has " + std::to_string(diskSectors) + " sectors)";
        if (start >= diskSectors) {
            v.problem = "starts beyond the end of the disk, at sector " + std::to_string(start) + disk;
            continue;
        }
        const std::uint64_t inside = diskSectors - start;
        if (v.sectorCount <= inside)
            continue;
        const std::uint64_t missing = v.sectorCount - inside;
        const std::string what = "ends beyond the end of the disk: " + std::to_string(missing) + " of its " +
                                 std::to_string(v.sectorCount) + " sectors lie past it" + disk;
        if (missing > v.sectorCount / 2)
            v.problem = what;
        else
            v.note += (v.note.empty() ? "" : "; ") + what;
    }
}

bool recognised(BootRecordKind kind) { return kind != BootRecordKind::None && kind != BootRecordKind::UnknownFat; }

// What the volume's first sectors say it is; when they say nothing (wiped,
// unreadable, a broken parameter block), what a backup copy of its boot
// record says. `note` tells the user which copy it was.
struct Named {
    BootRecord record;
    std::string note;
};

Named nameVolume(readWriteInterface& reader, const IdentifiedVolume& first, std::uint64_t start, std::uint64_t length)
{
    if (recognised(first.record.kind))
        return {first.record, {}};
    BackupIdentification copy = identifyByBackup(reader, start, length);
    if (!copy.found())
        return {first.record, {}};
    return {copy.record, "named by its " + copy.describe()};
}

void reportNote(JobReporter& reporter, const Partition& partition, const std::string& note)
{
    if (!note.empty())
        reporter.setStatusText("Volume " + std::to_string(partition.volumeList.size() - 1) + ": " + note + ".");
}

// ---- GPT ----------------------------------------------------------------

// The header in sector 1, else the backup at the disk's last sector, else
// the usual layout (128 entries of 128 bytes from sector 2).
GptHeader chooseGptHeader(readWriteInterface& reader, std::span<const std::uint8_t> sector1)
{
    GptHeader header = GptHeader::parse(sector1);
    if (!header.signatureOk && reader.diskSectorCount > 2) {
        std::array<std::uint8_t, 512> backup{};
        if (reader.seek(static_cast<std::int64_t>((reader.diskSectorCount - 1) * 512), 0) &&
            reader.read(backup.data(), 512)) {
            GptHeader alternate = GptHeader::parse(backup);
            if (alternate.signatureOk)
                header = alternate;
        }
    }
    bool entrySizeOk = header.entrySize >= 128 && header.entrySize <= 4096 && (header.entrySize % 128) == 0 &&
                       ((header.entrySize / 128) & (header.entrySize / 128 - 1)) == 0;
    if (!header.signatureOk || !entrySizeOk || header.partitionEntryLba < 2) {
        if (header.partitionEntryLba < 2 || (reader.diskSectorCount && header.partitionEntryLba >= reader.diskSectorCount))
            header.partitionEntryLba = 2;
        header.entrySize = 128;
        if (!header.signatureOk || header.entryCount == 0)
            header.entryCount = 128;
    }
    return header;
}

int scanGpt(readWriteInterface& reader, Partition& partition, JobReporter& reporter,
            std::span<const std::uint8_t> sector1)
{
    GptHeader header = chooseGptHeader(reader, sector1);
    std::uint64_t count = std::min<std::uint64_t>(header.entryCount, kMaxGptArrayBytes / header.entrySize);
    std::vector<std::uint8_t> array(static_cast<std::size_t>(count * header.entrySize), 0);
    if (!reader.seek(static_cast<std::int64_t>(header.partitionEntryLba * 512), 0))
        return readError(reader);
    // Entries beyond the disk read as zeros, which is an unused slot.
    reader.read(array.data(), static_cast<std::uint32_t>(array.size()));

    for (std::uint64_t i = 0; i < count; ++i) {
        GptEntry entry = GptEntry::parse(std::span(array).subspan(static_cast<std::size_t>(i * header.entrySize),
                                                                   header.entrySize));
        // Unused slots (a deleted partition) leave a gap, not the end of the table.
        if (entry.unused() || entry.startingLba <= 2 || entry.startingLba > static_cast<std::uint64_t>(INT64_MAX) / 512)
            continue;
        if (entry.partitionName == kMicrosoftReserved)
            continue;
        const std::uint64_t length = entry.endingLba >= entry.startingLba ? entry.endingLba - entry.startingLba + 1 : 0;
        if (reader.diskSectorCount != 0 && entry.startingLba >= reader.diskSectorCount) {
            // Nothing to read there; listed by its table name and flagged.
            append(partition, utf16ToUtf8(entry.partitionName), std::to_string(length / 2048), entry.startingLba, {},
                   std::max<std::uint64_t>(length, 1));
            continue;
        }
        IdentifiedVolume volume = identifyVolumeAt(reader, entry.startingLba);
        if (!volume.readOk)
            return readError(reader);
        const Named named = nameVolume(reader, volume, entry.startingLba, length);
        const BootRecord& r = named.record;
        const std::size_t before = partition.volumeList.size();
        std::uint64_t mebibytes = r.sizeBytes / 1048576;
        std::uint64_t spanMebibytes = entry.endingLba > entry.startingLba ? (entry.endingLba - entry.startingLba) / 2048 : 0;
        switch (r.kind) {
        case BootRecordKind::Ntfs:
            if (mebibytes > 0) {
                reporter.setStatusText("found NTFS " + std::to_string(++partition.ntfsCount) + "...");
                append(partition, "NTFS", sizeTextWide(mebibytes), entry.startingLba);
            }
            break;
        case BootRecordKind::Exfat:
            reporter.setStatusText("found FAT 64...");
            if (mebibytes > 0)
                append(partition, "FAT64", sizeTextNarrow(mebibytes), entry.startingLba);
            break;
        case BootRecordKind::Fat32:
            reporter.setStatusText("found FAT 32...");
            if (mebibytes > 0)
                append(partition, "FAT32", sizeTextNarrow(mebibytes), entry.startingLba);
            break;
        case BootRecordKind::Fat16:
            reporter.setStatusText("found FAT 16...");
            if (mebibytes > 0)
                append(partition, "FAT16", sizeTextNarrow(mebibytes), entry.startingLba);
            break;
        case BootRecordKind::Fat12:
            if (mebibytes > 0)
                append(partition, "FAT12", sizeTextNarrow(mebibytes), entry.startingLba);
            break;
        case BootRecordKind::UnknownFat:
            reporter.setStatusText("found unknown...");
            break;
        case BootRecordKind::HfsPlus:
        case BootRecordKind::Ext:
            append(partition, bootRecordLabel(r.kind), std::to_string(spanMebibytes), entry.startingLba);
            break;
        case BootRecordKind::None:
            append(partition, utf16ToUtf8(entry.partitionName), std::to_string(spanMebibytes), entry.startingLba);
            break;
        }
        if (partition.volumeList.size() > before)
            partition.volumeList.back().sectorCount = length;
        if (partition.volumeList.size() > before && !named.note.empty()) {
            partition.volumeList.back().note = named.note;
            reportNote(reporter, partition, named.note);
        }
        if (partition.stopRequested.load())
            return 0;
    }
    reporter.setProgressPos(1000);
    return 0;
}

// ---- MBR ----------------------------------------------------------------

// A sector without the boot-record signature 0x55AA is no boot record: its
// bytes at 446 are not a table (random data lists nonsense volumes). Its
// rows stay in the list, as the volume page shows them, but none is
// offered for reading.
void distrustUnsigned(Partition& partition, std::size_t from, const std::string& where)
{
    if (from >= partition.volumeList.size())
        return;
    for (std::size_t i = from; i < partition.volumeList.size(); ++i)
        partition.volumeList[i].problem = "is listed by " + where + ", which has no 0x55AA boot-record signature";
    partition.tableProblems.push_back("The partition table in " + where +
                                      " has no 0x55AA boot-record signature; its entries are listed but not read.");
}

struct Label {
    const char* fileSystem;
    std::string status; // empty: none shown
};

// The label and status text of a volume whose boot record was recognised.
std::optional<Label> labelOfRecord(Partition& partition, BootRecordKind kind, bool logical)
{
    switch (kind) {
    case BootRecordKind::Ntfs:
        ++partition.ntfsCount;
        return Label{"NTFS", logical ? "found NTFS..." : "found NTFS " + std::to_string(partition.ntfsCount) + "..."};
    case BootRecordKind::Exfat: return Label{"FAT64", "found FAT64..."};
    case BootRecordKind::Fat32: return Label{"FAT32", "found FAT 32..."};
    case BootRecordKind::Fat16: return Label{"FAT16", "found FAT 16..."};
    case BootRecordKind::Fat12: return Label{"FAT12", ""};
    case BootRecordKind::Ext: return Label{"extX", logical ? "found extx..." : "found ext2..."};
    case BootRecordKind::HfsPlus: return Label{"HFS+", "found HFS+..."};
    case BootRecordKind::UnknownFat:
    case BootRecordKind::None: break;
    }
    return std::nullopt;
}

// The type code is only a hint: what the volume's first sectors (or, when
// they are gone, a backup copy of its boot record) say wins, and the type
// decides only when nothing is recognised.
Label labelMbrEntry(Partition& partition, const MbrEntry& entry, BootRecordKind kind, bool logical)
{
    if (auto label = labelOfRecord(partition, kind, logical))
        return *label;
    switch (entry.partitionType) {
    case 0x01: return {"FAT12", ""};
    case 0x04:
    case 0x06:
    case 0x0E: return {"FAT16", "found FAT 16..."};
    case 0x07: return *labelOfRecord(partition, BootRecordKind::Ntfs, logical);
    case 0x0B:
    case 0x0C: return {"FAT32", "found FAT 32..."};
    case 0x42:
        if (!logical)
            return {"NTFS", "NTFS..."};
        break;
    case 0x83: return {"extX", logical ? "found extx..." : "found ext2..."};
    default: break;
    }
    return {"Unknown", "found UNKNOWN..."};
}

void appendMbrEntry(readWriteInterface& reader, Partition& partition, JobReporter& reporter, const MbrEntry& entry,
                    std::uint64_t start, bool logical)
{
    const Named named = nameVolume(reader, identifyVolumeAt(reader, start), start, entry.sectorCount);
    Label label = labelMbrEntry(partition, entry, named.record.kind, logical);
    if (!label.status.empty())
        reporter.setStatusText(label.status);
    append(partition, label.fileSystem, sizeTextWide(entry.sectorCount / 2048), start, named.note, entry.sectorCount);
    reportNote(reporter, partition, named.note);
}

// Follows the chain of extended boot records. Logical partitions start
// relative to their EBR's link offset plus the extended partition's start.
int scanExtended(readWriteInterface& reader, Partition& partition, JobReporter& reporter, std::uint64_t extBase)
{
    std::uint64_t linkOffset = 0;
    std::set<std::uint64_t> visited;
    std::array<std::uint8_t, 512> sector{};
    for (int record = 0; record < kMaxExtendedRecords; ++record) {
        std::uint64_t at = extBase + linkOffset;
        if (!visited.insert(at).second)
            break; // a link back to an earlier record
        reader.baseOffset = 0;
        if (!reader.seek(static_cast<std::int64_t>(at * 512), 0) || !reader.read(sector.data(), 512))
            return readError(reader);
        MbrTable ebr = MbrTable::parse(sector);
        const std::size_t before = partition.volumeList.size();
        const MbrEntry* link = nullptr;
        for (const MbrEntry& entry : ebr.entries) {
            if (entry.partitionType == 0)
                continue;
            if (entry.isExtended()) {
                if (!link)
                    link = &entry;
                continue;
            }
            appendMbrEntry(reader, partition, reporter, entry, entry.startingLba + linkOffset + extBase, true);
        }
        if (!ebr.signatureOk)
            distrustUnsigned(partition, before, "the extended boot record at sector " + std::to_string(at));
        if (!link)
            break;
        linkOffset = link->startingLba;
    }
    return 0;
}

int scanMbr(readWriteInterface& reader, Partition& partition, JobReporter& reporter)
{
    std::array<std::uint8_t, 512> sector{};
    if (!reader.seek(0, 0) || !reader.read(sector.data(), 512)) {
        reporter.setProgressPos(1000);
        return readError(reader);
    }
    MbrTable mbr = MbrTable::parse(sector);
    const std::size_t before = partition.volumeList.size();
    // Every used entry counts: a deleted partition leaves an empty slot
    // between live ones, and primaries may follow the extended entry.
    for (const MbrEntry& entry : mbr.entries) {
        if (entry.partitionType == 0)
            continue;
        if (entry.isExtended()) {
            if (int error = scanExtended(reader, partition, reporter, entry.startingLba))
                return error;
            continue;
        }
        appendMbrEntry(reader, partition, reporter, entry, entry.startingLba, false);
    }
    if (!mbr.signatureOk)
        distrustUnsigned(partition, before, "sector 0");
    return 0;
}

// ---- no partition table --------------------------------------------------

// An MBR that describes at least one partition.
bool mbrHasPartitions(std::span<const std::uint8_t> sector0)
{
    MbrTable mbr = MbrTable::parse(sector0);
    if (!mbr.signatureOk)
        return false;
    for (const MbrEntry& entry : mbr.entries)
        if (entry.partitionType != 0 && entry.startingLba != 0 && entry.sectorCount != 0)
            return true;
    return false;
}

// A disk formatted whole, without a partition table (a Linux guest's data
// disk, a WSL disk, a superfloppy): its file system starts at sector 0. A
// FAT or NTFS boot sector ends in 0x55AA too and its boot code may look
// like partition entries, so a boot record in sector 0 decides first; an ext
// superblock or HFS+ header at byte 1024 counts only when sector 0 holds no
// partition table and sector 1 no GPT header.
// The volume may be larger than the disk: an image cut short still shows
// what it holds.
std::optional<BootRecord> wholeDiskVolume(std::span<const std::uint8_t> head)
{
    auto fits = [](const BootRecord& r) { return r.sizeBytes >= 512; };
    BootRecord boot = identifyBootSector(head.first(512));
    if (recognised(boot.kind) && fits(boot))
        return boot;
    if (mbrHasPartitions(head.first(512)) || ByteReader(head).matches(512, "EFI PART"))
        return std::nullopt;
    BootRecord hfs = identifyHfsPlusHeader(head.subspan(1024, 512));
    if (hfs.kind != BootRecordKind::None && fits(hfs))
        return hfs;
    BootRecord ext = identifyExtSuperblock(head.subspan(1024, 512));
    if (ext.kind != BootRecordKind::None && fits(ext))
        return ext;
    return std::nullopt;
}

void appendWholeDisk(Partition& partition, JobReporter& reporter, const BootRecord& record)
{
    Label label = *labelOfRecord(partition, record.kind, false);
    if (!label.status.empty())
        reporter.setStatusText(label.status);
    append(partition, label.fileSystem, sizeTextWide(record.sizeBytes / 1048576), 0,
           "whole disk, no partition table");
    reportNote(reporter, partition, partition.volumeList.back().note);
}

} // namespace

int scanPartitionTable(readWriteInterface& reader, Partition& partition, JobReporter& reporter)
{
    reader.baseOffset = 0;
    std::array<std::uint8_t, 1536> head{};
    bool ok = reader.seek(0, 0) && reader.read(head.data(), 1024);
    if (ok && reader.seek(0, 0) && reader.read(head.data(), 1536)) {
        if (auto whole = wholeDiskVolume(head)) {
            appendWholeDisk(partition, reporter, *whole);
            reporter.setProgressPos(1000);
            return 0;
        }
    }
    const std::size_t before = partition.volumeList.size();
    int error = ok && partition.gptMode
                    ? scanGpt(reader, partition, reporter, std::span<const std::uint8_t>(head).subspan(512, 512))
                    : scanMbr(reader, partition, reporter);
    flagVolumesBeyondDisk(partition.volumeList, before, reader.diskSectorCount);
    return error;
}

bool hasProtectiveMbr(readWriteInterface& reader)
{
    std::array<std::uint8_t, 512> first{};
    const std::int64_t base = reader.baseOffset;
    reader.baseOffset = 0;
    const bool read = reader.seek(0, 0) && reader.read(first.data(), 512);
    reader.baseOffset = base;
    return read && MbrTable::parse(first).protectsGpt();
}

bool isExfatVolume(readWriteInterface& reader, std::int64_t startSector)
{
    std::array<std::uint8_t, 512> sector{};
    if (startSector < 0 || !reader.seek(startSector * 512, 0) || !reader.read(sector.data(), 512))
        return false;
    return identifyBootSector(sector).kind == BootRecordKind::Exfat;
}

bool isHfsPlusVolume(readWriteInterface& reader, std::int64_t startSector)
{
    std::array<std::uint8_t, 512> sector{};
    if (startSector < 0 || !reader.seek((startSector + 2) * 512, 0) || !reader.read(sector.data(), 512))
        return false;
    return sector[0] == 'H' && sector[1] == '+' && sector[2] == 0;
}

} // namespace qis

#include "volumes/BackupBootRecord.h"

#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <array>
#include <optional>
#include <vector>

namespace qis {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kExfatBackupRegion = 12; // the main boot region's length
// FAT32 keeps its backup in the reserved area; formatting tools put it at
// 6, and no tool reserves more than a few dozen sectors in front of the FAT.
constexpr std::uint64_t kFat32BackupSearch = 32;
constexpr std::uint32_t kExtBackupGroups[] = {1, 3, 5, 7, 9};
constexpr std::uint32_t kExtMaxLogBlockSize = 6; // 64 KiB blocks

bool readSectors(readWriteInterface& reader, std::uint64_t sector, std::span<std::uint8_t> out)
{
    const std::uint64_t count = out.size() / kSector;
    if (sector > static_cast<std::uint64_t>(INT64_MAX) / kSector - count)
        return false;
    if (reader.diskSectorCount != 0 && (sector >= reader.diskSectorCount || count > reader.diskSectorCount - sector))
        return false;
    return reader.seek(static_cast<std::int64_t>(sector * kSector), 0) &&
           reader.read(out.data(), static_cast<std::uint32_t>(out.size()));
}

BackupIdentification exfatCopy(readWriteInterface& reader, std::uint64_t start)
{
    std::array<std::uint8_t, 512> sector{};
    if (!readSectors(reader, start + kExfatBackupRegion, sector))
        return {};
    BootRecord r = identifyBootSector(sector);
    if (r.kind != BootRecordKind::Exfat)
        return {};
    return {r, start + kExfatBackupRegion};
}

BackupIdentification fat32Copy(readWriteInterface& reader, std::uint64_t start)
{
    std::vector<std::uint8_t> sectors(kFat32BackupSearch * kSector);
    if (!readSectors(reader, start, sectors))
        return {};
    for (std::uint64_t k = 1; k < kFat32BackupSearch; ++k) {
        auto sector = std::span<const std::uint8_t>(sectors).subspan(k * kSector, kSector);
        BootRecord r = identifyBootSector(sector);
        // The copy names its own place: BPB_BkBootSec equals its distance from the start.
        if (r.kind == BootRecordKind::Fat32 && ByteReader(sector).u16le(0x32) == k)
            return {r, start + k};
    }
    return {};
}

BackupIdentification ntfsCopy(readWriteInterface& reader, std::uint64_t start, std::uint64_t length)
{
    if (length < 2)
        return {};
    std::array<std::uint8_t, 512> sector{};
    const std::uint64_t last = start + length - 1;
    if (last < start || !readSectors(reader, last, sector))
        return {};
    BootRecord r = identifyBootSector(sector);
    // The total-sectors field leaves out the copy itself, so it counts up to
    // the copy's own sector.
    if (r.kind != BootRecordKind::Ntfs || ByteReader(sector).u64le(0x28) != length - 1)
        return {};
    return {r, last};
}

BackupIdentification extCopy(readWriteInterface& reader, std::uint64_t start, std::uint64_t length)
{
    std::array<std::uint8_t, 1024> superblock{};
    for (std::uint32_t log = 0; log <= kExtMaxLogBlockSize; ++log) {
        const std::uint64_t blockSize = 1024ull << log;
        const std::uint64_t blocksPerGroup = 8 * blockSize; // one bitmap block's worth, mke2fs's default
        const std::uint64_t firstDataBlock = log == 0 ? 1 : 0;
        for (std::uint32_t group : kExtBackupGroups) {
            const std::uint64_t block = firstDataBlock + group * blocksPerGroup;
            const std::uint64_t offset = block * blockSize; // no overflow: below 2^45
            if (length != 0 && offset / kSector + 2 > length)
                break;
            if (!readSectors(reader, start + offset / kSector, superblock))
                break;
            BootRecord r = identifyExtBackupSuperblock(superblock, group, block);
            if (r.kind == BootRecordKind::Ext)
                return {r, start + offset / kSector};
        }
    }
    return {};
}

BackupIdentification hfsPlusCopy(readWriteInterface& reader, std::uint64_t start, std::uint64_t length)
{
    if (length < 4)
        return {};
    std::array<std::uint8_t, 512> sector{};
    const std::uint64_t at = start + length - 2; // 1024 bytes before the end
    if (at < start || !readSectors(reader, at, sector))
        return {};
    BootRecord r = identifyHfsPlusHeader(sector);
    if (r.kind != BootRecordKind::HfsPlus || r.sizeBytes != length * kSector)
        return {};
    return {r, at};
}

// ---- telling a copy from a primary ---------------------------------------

// The first two FAT entries hold the media byte and end-of-chain marks from
// the moment the volume is formatted: a FAT where the record says it is.
bool exfatFatAt(readWriteInterface& reader, std::uint64_t start, ByteReader& record)
{
    std::array<std::uint8_t, 512> sector{};
    const std::uint64_t fatOffset = record.u32le(0x50); // FatOffset
    if (fatOffset == 0 || !readSectors(reader, start + fatOffset, sector))
        return false;
    ByteReader fat(sector);
    return fat.u32le(0) == 0xFFFFFFF8 && fat.u32le(4) == 0xFFFFFFFF;
}

bool fat32FatAt(readWriteInterface& reader, std::uint64_t start, ByteReader& record)
{
    std::array<std::uint8_t, 512> sector{};
    const std::uint64_t reserved = record.u16le(0x0E); // BPB_RsvdSecCnt
    const std::uint32_t media = record.u8(0x15);       // BPB_Media
    if (reserved == 0 || !readSectors(reader, start + reserved, sector))
        return false;
    return (ByteReader(sector).u32le(0) & 0x0FFFFFFF) == (0x0FFFFF00u | media);
}

// An MFT record ("FILE") at the $MFT cluster, or at the $MFTMirr cluster
// when the MFT's first records are gone too.
bool ntfsMftAt(readWriteInterface& reader, std::uint64_t start, ByteReader& record)
{
    const std::uint8_t perCluster = record.u8(0x0D);
    // Values above 0x80 are a negative power of two of the cluster size in bytes.
    const std::uint64_t clusterBytes = perCluster > 0x80 ? (perCluster >= 0xC0 ? 0 : 1ull << (256 - perCluster))
                                                         : std::uint64_t{perCluster} * kSector;
    if (clusterBytes < kSector)
        return false;
    std::array<std::uint8_t, 512> sector{};
    for (std::size_t field : {std::size_t{0x30}, std::size_t{0x38}}) { // MFT, MFT mirror clusters
        auto bytes = checkedMul(record.u64le(field), clusterBytes);
        if (!bytes || *bytes == 0 || *bytes / kSector > UINT64_MAX - start)
            continue;
        if (readSectors(reader, start + *bytes / kSector, sector) && ByteReader(sector).matches(0, "FILE"))
            return true;
    }
    return false;
}

} // namespace

std::string BackupIdentification::describe() const
{
    const char* what = record.kind == BootRecordKind::Ext       ? "backup superblock"
                       : record.kind == BootRecordKind::HfsPlus ? "alternate volume header"
                                                                : "backup boot sector";
    return std::string(what) + " at sector " + std::to_string(copySector);
}

BackupIdentification identifyByBackup(readWriteInterface& reader, std::uint64_t startSector,
                                      std::uint64_t lengthSectors)
{
    if (startSector > static_cast<std::uint64_t>(INT64_MAX) / kSector)
        return {};
    if (auto c = exfatCopy(reader, startSector); c.found())
        return c;
    if (auto c = fat32Copy(reader, startSector); c.found())
        return c;
    if (auto c = ntfsCopy(reader, startSector, lengthSectors); c.found())
        return c;
    if (auto c = extCopy(reader, startSector, lengthSectors); c.found())
        return c;
    return hfsPlusCopy(reader, startSector, lengthSectors);
}

namespace {

struct ExtGeometry {
    std::uint64_t blockSize = 0;
    std::uint64_t blocksPerGroup = 0;
    std::uint64_t firstDataBlock = 0;
    std::uint64_t blocks = 0;
};

// The geometry the search needs, nullopt when it cannot be a real one: a
// group is at most one bitmap block's worth of blocks, and the first data
// block is 1 exactly for 1 KiB blocks.
std::optional<ExtGeometry> extGeometry(std::span<const std::uint8_t> superblock)
{
    ByteReader r(superblock);
    const std::uint32_t log = r.u32le(0x18);
    if (log > kExtMaxLogBlockSize)
        return std::nullopt;
    ExtGeometry g;
    g.blockSize = 1024ull << log;
    g.blocksPerGroup = r.u32le(0x20);
    g.firstDataBlock = r.u32le(0x14);
    g.blocks = r.u32le(0x04);
    if (g.blocksPerGroup == 0 || g.blocksPerGroup > 8 * g.blockSize || g.firstDataBlock != (log == 0 ? 1u : 0u))
        return std::nullopt;
    return g;
}

} // namespace

BootRecord identifyExtBackupSector(std::span<const std::uint8_t> sector, std::uint64_t* sectorsIntoVolume)
{
    *sectorsIntoVolume = 0;
    ByteReader r(sector);
    const std::uint16_t group = r.u16le(0x5A);
    auto g = extGeometry(sector);
    if (group == 0 || !g)
        return {};
    const std::uint64_t block = g->firstDataBlock + group * g->blocksPerGroup;
    BootRecord record = identifyExtBackupSuperblock(sector, group, block);
    if (record.kind != BootRecordKind::Ext)
        return {};
    *sectorsIntoVolume = block * g->blockSize / kSector;
    return record;
}

bool extPrimaryConfirmed(readWriteInterface& reader, std::uint64_t volumeStart, std::span<const std::uint8_t> superblock)
{
    auto g = extGeometry(superblock);
    ByteReader r(superblock);
    // One group has no backup; sparse_super2 keeps its two backups in groups of its choosing.
    if (!g || g->blocks <= g->firstDataBlock + g->blocksPerGroup || (r.u32le(0x5C) & 0x200))
        return true;
    const std::uint64_t block = g->firstDataBlock + g->blocksPerGroup;
    std::array<std::uint8_t, 1024> copy{};
    if (!readSectors(reader, volumeStart + block * g->blockSize / kSector, copy))
        return true; // nothing to tell either way
    if (identifyExtBackupSuperblock(copy, 1, block).kind != BootRecordKind::Ext)
        return false;
    ByteReader c(copy);
    for (std::size_t at = 0x68; at < 0x78; ++at) // s_uuid
        if (c.u8(at) != r.u8(at))
            return false;
    return true;
}

RecordPlacement placeFoundRecord(readWriteInterface& reader, BootRecordKind kind, std::span<const std::uint8_t> record,
                                 std::uint64_t sector)
{
    const RecordPlacement primary{static_cast<std::int64_t>(sector), false};
    ByteReader r(record);
    std::uint64_t distance = 0; // from the volume's start to where a copy lies
    bool (*structuresAt)(readWriteInterface&, std::uint64_t, ByteReader&) = nullptr;
    switch (kind) {
    case BootRecordKind::Exfat:
        distance = kExfatBackupRegion;
        structuresAt = exfatFatAt;
        break;
    case BootRecordKind::Fat32:
        distance = r.u16le(0x32); // BPB_BkBootSec; 0 or 0xFFFF: none kept
        if (distance == 0xFFFF || distance >= r.u16le(0x0E))
            return primary;
        structuresAt = fat32FatAt;
        break;
    case BootRecordKind::Ntfs:
        distance = r.u64le(0x28); // the copy follows the counted sectors
        structuresAt = ntfsMftAt;
        break;
    default: return primary;
    }
    if (distance == 0 || distance > sector)
        return primary;
    const std::uint64_t start = sector - distance;

    std::array<std::uint8_t, 512> there{};
    if (readSectors(reader, start, there)) {
        BootRecord before = identifyBootSector(there);
        if (before.kind == kind && before.sizeBytes == identifyBootSector(record).sizeBytes)
            return {static_cast<std::int64_t>(start), true};
    }
    // The primary is gone: the record is a copy when the volume's structures
    // are where it says only counting from the earlier start.
    if (structuresAt(reader, start, r) && !structuresAt(reader, sector, r))
        return {static_cast<std::int64_t>(start), true};
    return primary;
}

} // namespace qis

#include "volumes/BootRecord.h"

#include "util/ByteReader.h"
#include "util/CheckedMath.h"
#include "volumes/FatBpb.h"

#include <optional>

namespace qis {
namespace {

// The BIOS parameter block of a FAT volume, checked field by field.
BootRecord identifyFat(ByteReader& r)
{
    std::uint16_t bytesPerSector = r.u16le(0x0B);   // BPB_BytsPerSec
    std::uint8_t sectorsPerCluster = r.u8(0x0D);    // BPB_SecPerClus
    std::uint16_t reservedSectors = r.u16le(0x0E);  // BPB_RsvdSecCnt
    std::uint8_t fatCount = r.u8(0x10);             // BPB_NumFATs
    std::uint16_t rootEntries = r.u16le(0x11);      // BPB_RootEntCnt
    std::uint16_t totalSectors16 = r.u16le(0x13);   // BPB_TotSec16
    std::uint16_t fatSize16 = r.u16le(0x16);        // BPB_FATSz16
    std::uint32_t totalSectors32 = r.u32le(0x20);   // BPB_TotSec32
    std::uint32_t fatSize32 = r.u32le(0x24);        // BPB_FATSz32
    bool msdosName = r.matches(0x03, "MSDO") && r.u8(0x00) == 0xEB &&
                     (r.u8(0x01) == 0x3C || r.u8(0x01) == 0x58 || r.u8(0x01) == 0x76);

    auto bpb = FatBpb::parse(r.bytes(0, 512));
    bool saneBpb = bpb && bpb->signature;
    if (!saneBpb && !msdosName)
        return {};

    std::uint64_t totalSectors = totalSectors16 != 0 ? totalSectors16 : totalSectors32;
    if (fatSize16 == 0) {
        // FAT32 keeps its FAT size in the extended BPB; the size is the 32-bit count.
        if (!msdosName && fatSize32 == 0)
            return {BootRecordKind::UnknownFat, 0};
        return {BootRecordKind::Fat32, std::uint64_t{totalSectors32} * 512};
    }
    // The FATs and the root directory must fit in the volume, and the cluster
    // count tells FAT12 from FAT16.
    std::uint64_t bps = bytesPerSector ? bytesPerSector : 512;
    std::uint64_t rootSectors = ceilDiv(std::uint64_t{rootEntries} * 32, bps);
    std::uint64_t metadata = reservedSectors + std::uint64_t{fatCount} * fatSize16 + rootSectors;
    if (metadata >= totalSectors || sectorsPerCluster == 0)
        return {BootRecordKind::UnknownFat, 0};
    std::uint64_t clusters = (totalSectors - metadata) / sectorsPerCluster;
    BootRecordKind kind = clusters < 4085 ? BootRecordKind::Fat12 : BootRecordKind::Fat16;
    return {kind, totalSectors * 512};
}

} // namespace

BootRecord identifyBootSector(std::span<const std::uint8_t> sector)
{
    ByteReader r(sector);
    if (sector.size() < 512)
        return {};
    if (r.u8(0x00) == 0xEB && r.u8(0x01) == 0x52 && r.matches(0x03, "NTFS") && r.u16le(0x0B) == 512)
        return {BootRecordKind::Ntfs, r.u64le(0x28) * 512}; // total sectors at 0x28
    std::uint8_t jump = r.u8(0x01);
    if (r.u8(0x00) == 0xEB && (jump == 0x3C || jump == 0x58 || jump == 0x76) && r.matches(0x03, "EXFA"))
        return {BootRecordKind::Exfat, r.u64le(0x48) * 512}; // VolumeLength at 0x48
    return identifyFat(r);
}

BootRecord identifyHfsPlusHeader(std::span<const std::uint8_t> sector)
{
    ByteReader r(sector);
    bool hfsPlus = r.u8(0) == 'H' && r.u8(1) == '+' && r.u8(2) == 0;
    bool hfsx = r.u8(0) == 'H' && r.u8(1) == 'X' && r.u8(2) == 0;
    if (!hfsPlus && !hfsx)
        return {};
    auto size = checkedMul(r.u32be(0x28), r.u32be(0x2C)); // blockSize × totalBlocks
    return {BootRecordKind::HfsPlus, size.value_or(0)};
}

namespace {

// The fields every superblock copy shares; nullopt unless they are sane.
std::optional<BootRecord> extRecord(ByteReader& r)
{
    if (r.u16le(0x38) != 0xEF53) // s_magic
        return std::nullopt;
    std::uint32_t logBlockSize = r.u32le(0x18); // s_log_block_size
    std::uint32_t blocksPerGroup = r.u32le(0x20);
    std::uint32_t inodesPerGroup = r.u32le(0x28);
    if (logBlockSize > 6 || blocksPerGroup == 0 || inodesPerGroup == 0)
        return std::nullopt;
    std::uint64_t blocks = r.u32le(0x04); // s_blocks_count_lo
    // s_blocks_count_hi counts only with the 64bit feature (s_feature_incompat bit 0x80).
    if (r.u32le(0x60) & 0x80)
        blocks |= std::uint64_t{r.u32le(0x150)} << 32;
    auto size = checkedMul(blocks, 1024ull << logBlockSize);
    return BootRecord{BootRecordKind::Ext, size.value_or(0)};
}

} // namespace

BootRecord identifyExtSuperblock(std::span<const std::uint8_t> superblock)
{
    ByteReader r(superblock);
    auto record = extRecord(r);
    if (!record || r.u16le(0x5A) != 0) // s_block_group_nr
        return {};
    return *record;
}

BootRecord identifyExtBackupSuperblock(std::span<const std::uint8_t> superblock, std::uint32_t group,
                                       std::uint64_t block)
{
    ByteReader r(superblock);
    auto record = extRecord(r);
    if (!record || group == 0)
        return {};
    // A copy written since revision 1 carries its group's number; revision 0
    // leaves it 0. Either way the group must start where the copy lies.
    std::uint16_t groupNumber = r.u16le(0x5A);
    bool numbered = groupNumber == group || (groupNumber == 0 && r.u32le(0x4C) == 0); // s_rev_level
    std::uint64_t groupStart = r.u32le(0x14) + std::uint64_t{group} * r.u32le(0x20); // s_first_data_block
    if (!numbered || groupStart != block)
        return {};
    return *record;
}

const char* bootRecordLabel(BootRecordKind kind)
{
    switch (kind) {
    case BootRecordKind::Ntfs: return "NTFS";
    case BootRecordKind::Exfat: return "FAT64";
    case BootRecordKind::Fat12: return "FAT12";
    case BootRecordKind::Fat16: return "FAT16";
    case BootRecordKind::Fat32: return "FAT32";
    case BootRecordKind::UnknownFat: return "UNKNOWN";
    case BootRecordKind::HfsPlus: return "HFS+";
    case BootRecordKind::Ext: return "extX";
    case BootRecordKind::None: break;
    }
    return "Unknown";
}

} // namespace qis

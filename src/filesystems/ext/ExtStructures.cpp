#include "filesystems/ext/ExtStructures.h"

#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <cstring>

namespace qis::extdisk {

std::optional<Superblock> Superblock::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    if (r.u16le(0x38) != 0xEF53)
        return std::nullopt;
    Superblock s;
    s.inodesCount = r.u32le(0x00);
    s.blocksCount = r.u32le(0x04);
    s.firstDataBlock = r.u32le(0x14);
    s.logBlockSize = r.u32le(0x18);
    s.blocksPerGroup = r.u32le(0x20);
    s.inodesPerGroup = r.u32le(0x28);
    std::uint32_t revision = r.u32le(0x4C);
    s.inodeSize = revision == 0 ? 128 : r.u16le(0x58);
    s.firstInode = revision == 0 ? 11 : r.u32le(0x54); // s_first_ino
    s.featureCompat = r.u32le(0x5C);
    s.featureIncompat = r.u32le(0x60);
    s.featureRoCompat = r.u32le(0x64);
    s.blockGroup = r.u16le(0x5A);
    s.reservedGdtBlocks = r.u16le(0xCE);
    s.firstMetaBg = r.u32le(0x104);
    s.backupGroups[0] = r.u32le(0x24C);
    s.backupGroups[1] = r.u32le(0x250);
    if (s.is64Bit()) {
        s.blocksCount |= std::uint64_t{r.u32le(0x150)} << 32;
        s.descriptorSize = r.u16le(0xFE);
    }
    if (!r.ok() || s.logBlockSize > 6 || s.blocksPerGroup == 0 || s.inodesPerGroup == 0 || s.inodesCount == 0)
        return std::nullopt;
    if (s.inodeSize < 128 || !isPowerOfTwo(s.inodeSize) || s.inodeSize > s.blockSize())
        return std::nullopt;
    if (s.is64Bit() && (s.descriptorSize < 64 || !isPowerOfTwo(s.descriptorSize) || s.descriptorSize > 1024))
        return std::nullopt;
    if (!s.is64Bit())
        s.descriptorSize = 32;
    if (s.firstDataBlock >= s.blocksCount)
        return std::nullopt;
    return s;
}

bool Superblock::isAt(std::uint64_t offset) const
{
    if (offset == 1024)
        return blockGroup == 0;
    std::uint64_t B = blockSize();
    return blockGroup != 0 && offset % B == 0 &&
           offset / B == std::uint64_t{blockGroup} * blocksPerGroup + firstDataBlock;
}

std::uint64_t Superblock::groupCount() const
{
    return ceilDiv(blocksCount - firstDataBlock, std::uint64_t{blocksPerGroup});
}

bool Superblock::hasSuperblockCopy(std::uint64_t group) const
{
    if (group == 0)
        return true;
    if (featureCompat & 0x0200) // sparse_super2
        return group == backupGroups[0] || group == backupGroups[1];
    if (!(featureRoCompat & 0x0001)) // without sparse_super every group has one
        return true;
    auto powerOf = [&](std::uint64_t base) {
        std::uint64_t p = 1;
        while (p < group && p <= UINT64_MAX / base)
            p *= base;
        return p == group;
    };
    return group == 1 || powerOf(3) || powerOf(5) || powerOf(7);
}

std::uint64_t Superblock::superblockCopyBlocks() const
{
    const std::uint64_t B = blockSize();
    // With meta_bg only the first s_first_meta_bg blocks of the table
    // follow the superblock copies; the rest lies in the meta groups.
    const std::uint64_t tableBlocks = (featureIncompat & 0x0010)
                                          ? firstMetaBg
                                          : ceilDiv(checkedMul(groupCount(), descriptorSize).value_or(UINT64_MAX), B);
    // With 1 KiB blocks the superblock is block 1 of group 0 but block 0 of
    // a backup's group: either way one block.
    return 1 + std::min<std::uint64_t>(tableBlocks + reservedGdtBlocks, blocksPerGroup);
}

GroupDescriptor GroupDescriptor::parse(std::span<const std::uint8_t> bytes, bool wide)
{
    ByteReader r(bytes);
    GroupDescriptor d;
    d.blockBitmap = r.u32le(0x00);
    d.inodeBitmap = r.u32le(0x04);
    d.inodeTable = r.u32le(0x08);
    d.flags = r.u16le(0x12);
    d.unusedInodes = r.u16le(0x1C);
    if (wide) {
        d.blockBitmap |= std::uint64_t{r.u32le(0x20)} << 32;
        d.inodeBitmap |= std::uint64_t{r.u32le(0x24)} << 32;
        d.inodeTable |= std::uint64_t{r.u32le(0x28)} << 32;
        d.unusedInodes |= std::uint32_t{r.u16le(0x32)} << 16;
    }
    return d;
}

Inode Inode::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    Inode n;
    n.mode = r.u16le(0x00);
    n.size = r.u32le(0x04);
    n.atime = r.u32le(0x08);
    n.ctime = r.u32le(0x0C);
    n.mtime = r.u32le(0x10);
    n.dtime = r.u32le(0x14);
    n.linksCount = r.u16le(0x1A);
    n.uid = r.u16le(0x02) | std::uint32_t{r.u16le(0x78)} << 16;
    n.gid = r.u16le(0x18) | std::uint32_t{r.u16le(0x7A)} << 16;
    n.flags = r.u32le(0x20);
    if (r.has(0x28, 60))
        std::memcpy(n.block, bytes.data() + 0x28, 60);
    n.size |= std::uint64_t{r.u32le(0x6C)} << 32;
    // The nanosecond parts live in the larger inode's extra space.
    std::uint16_t extra = r.has(0x80, 2) ? r.u16le(0x80) : 0;
    if (extra >= 0x10 && r.has(0x80, extra)) {
        n.ctimeExtra = r.u32le(0x84);
        n.mtimeExtra = r.u32le(0x88);
        n.atimeExtra = r.u32le(0x8C);
    }
    if (extra >= 0x14 && r.has(0x80, extra))
        n.crtime = r.u32le(0x90);
    if (extra >= 0x18 && r.has(0x80, extra))
        n.crtimeExtra = r.u32le(0x94);
    return n;
}

bool Inode::holdsMap() const
{
    if (flags & kInlineDataFlag)
        return size != 0;
    if (flags & kExtentsFlag) {
        auto header = ExtentHeader::parse(std::span<const std::uint8_t>(block, sizeof block));
        return header && header->entries != 0;
    }
    for (std::uint8_t b : block)
        if (b != 0)
            return true;
    return false;
}

std::optional<ExtentHeader> ExtentHeader::parse(std::span<const std::uint8_t> node)
{
    ByteReader r(node);
    if (r.u16le(0) != 0xF30A)
        return std::nullopt;
    ExtentHeader h;
    h.entries = r.u16le(2);
    h.max = r.u16le(4);
    h.depth = r.u16le(6);
    std::size_t capacity = node.size() >= 12 ? (node.size() - 12) / 12 : 0;
    if (!r.ok() || h.entries > h.max || h.max > capacity || h.depth > kMaxExtentDepth)
        return std::nullopt;
    return h;
}

std::vector<DirectoryEntry> directoryEntries(std::span<const std::uint8_t> block, bool hasFileType)
{
    std::vector<DirectoryEntry> entries;
    ByteReader r(block);
    std::size_t at = 0;
    while (at + 8 <= block.size()) {
        DirectoryEntry e;
        e.inode = r.u32le(at);
        e.recordLength = r.u16le(at + 4);
        if (hasFileType) {
            e.nameLength = r.u8(at + 6);
            e.fileType = r.u8(at + 7);
        } else {
            e.nameLength = r.u16le(at + 6);
        }
        if (e.recordLength < 8 || e.recordLength % 4 != 0 || at + e.recordLength > block.size() ||
            8u + e.nameLength > e.recordLength)
            break;
        e.name = block.subspan(at + 8, e.nameLength);
        e.offset = at;
        entries.push_back(e);
        at += e.recordLength;
    }
    return entries;
}

std::vector<DirectoryEntry> deletedEntries(std::span<const std::uint8_t> block, bool hasFileType)
{
    std::vector<DirectoryEntry> found;
    ByteReader r(block);
    for (const DirectoryEntry& live : directoryEntries(block, hasFileType)) {
        std::size_t end = live.offset + live.recordLength;
        std::size_t at = live.offset + ((8u + live.nameLength + 3u) & ~std::size_t{3});
        while (at + 8 < end) {
            DirectoryEntry e;
            e.offset = at;
            e.inode = r.u32le(at);
            e.recordLength = r.u16le(at + 4);
            e.nameLength = hasFileType ? r.u8(at + 6) : r.u16le(at + 6);
            e.fileType = hasFileType ? r.u8(at + 7) : 0;
            bool plausible = e.inode != 0 && e.nameLength != 0 && at + 8 + e.nameLength <= end &&
                             e.recordLength >= 8 + e.nameLength && e.recordLength % 4 == 0 &&
                             at + e.recordLength <= block.size() && (!hasFileType || e.fileType <= 7);
            if (plausible) {
                e.name = block.subspan(at + 8, e.nameLength);
                for (std::uint8_t c : e.name)
                    if (c == 0 || c == '/')
                        plausible = false;
            }
            if (!plausible) {
                at += 4;
                continue;
            }
            found.push_back(e);
            at += (8u + e.nameLength + 3u) & ~std::size_t{3};
        }
    }
    return found;
}

} // namespace qis::extdisk

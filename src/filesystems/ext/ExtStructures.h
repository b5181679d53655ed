#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qis::extdisk {

inline constexpr std::uint32_t kSuperblockSize = 1024;
inline constexpr std::uint32_t kRootInode = 2;
inline constexpr std::uint16_t kTypeMask = 0xF000;
inline constexpr std::uint16_t kDirectory = 0x4000;
inline constexpr std::uint16_t kRegular = 0x8000;
inline constexpr std::uint32_t kExtentsFlag = 0x80000;
inline constexpr std::uint32_t kInlineDataFlag = 0x10000000;
inline constexpr std::size_t kMaxExtentDepth = 5;

// The superblock fields the parser uses, checked for sense: a block size of
// 1 to 64 KiB, non-zero group sizes, an inode size that is a power of two
// from 128 to the block size, 64-byte descriptors at least when 64-bit.
struct Superblock {
    std::uint32_t inodesCount = 0;
    std::uint64_t blocksCount = 0;
    std::uint32_t firstDataBlock = 0;
    std::uint32_t logBlockSize = 0;
    std::uint32_t blocksPerGroup = 0;
    std::uint32_t inodesPerGroup = 0;
    std::uint16_t inodeSize = 128;
    std::uint32_t firstInode = 11; // the first inode not reserved for the file system's own use
    std::uint32_t featureCompat = 0, featureIncompat = 0, featureRoCompat = 0;
    std::uint16_t descriptorSize = 32;
    std::uint16_t blockGroup = 0; // of this copy: 0 for the primary, the group of a backup
    std::uint16_t reservedGdtBlocks = 0;         // s_reserved_gdt_blocks: room for the table to grow
    std::uint32_t firstMetaBg = 0;               // s_first_meta_bg
    std::uint32_t backupGroups[2] = {0, 0};      // s_backup_bgs, with sparse_super2

    static std::optional<Superblock> parse(std::span<const std::uint8_t> bytes);

    [[nodiscard]] std::uint64_t blockSize() const { return 1024ull << logBlockSize; }
    [[nodiscard]] std::uint64_t groupCount() const;
    // True when a copy found `offset` bytes into the volume sits where its
    // own fields put it: the primary at 1024, a backup at the start of its
    // group. A superblock inside a file's data (an image kept on the
    // volume) is none of these.
    [[nodiscard]] bool isAt(std::uint64_t offset) const;
    [[nodiscard]] bool hasFileType() const { return featureIncompat & 0x0002; }
    [[nodiscard]] bool is64Bit() const { return featureIncompat & 0x0080; }
    // Group descriptors say how much of each inode table is in use.
    [[nodiscard]] bool hasGroupChecksums() const { return featureRoCompat & (0x0010 | 0x0400); }
    // Whether the group starts with a copy of the superblock and the group
    // descriptor table (sparse_super: groups 0, 1 and powers of 3, 5, 7;
    // sparse_super2: the two groups the superblock names).
    [[nodiscard]] bool hasSuperblockCopy(std::uint64_t group) const;
    // Blocks at the start of such a group: the superblock, the descriptor
    // table (with meta_bg, the part of it kept there) and its reserve.
    [[nodiscard]] std::uint64_t superblockCopyBlocks() const;
};

struct GroupDescriptor {
    std::uint64_t blockBitmap = 0;
    std::uint64_t inodeBitmap = 0;
    std::uint64_t inodeTable = 0;
    std::uint16_t flags = 0;
    std::uint32_t unusedInodes = 0; // at the end of the table, with group checksums

    static GroupDescriptor parse(std::span<const std::uint8_t> bytes, bool wide);
    [[nodiscard]] bool inodesUninitialised() const { return flags & 0x0001; }
    // The block bitmap was never written: nothing in the group was ever allocated.
    [[nodiscard]] bool blocksUninitialised() const { return flags & 0x0002; }
};

struct Inode {
    std::uint16_t mode = 0;
    std::uint64_t size = 0;
    std::uint32_t atime = 0, ctime = 0, mtime = 0, dtime = 0;
    std::uint32_t atimeExtra = 0, ctimeExtra = 0, mtimeExtra = 0;
    // i_crtime lives only in a large inode's extra space (ext4): 0 without it.
    std::uint32_t crtime = 0, crtimeExtra = 0;
    std::uint32_t uid = 0, gid = 0; // the low 16 bits with Linux's high 16 bits
    std::uint16_t linksCount = 0;
    std::uint32_t flags = 0;
    std::uint8_t block[60]{};

    static Inode parse(std::span<const std::uint8_t> bytes);
    [[nodiscard]] bool isDirectory() const { return (mode & kTypeMask) == kDirectory; }
    [[nodiscard]] bool isRegular() const { return (mode & kTypeMask) == kRegular; }
    [[nodiscard]] bool inUse() const { return mode != 0 && linksCount != 0; }
    // Something in i_block still says where data was: extents, block
    // pointers or inline bytes. Deleting through the kernel clears all of it.
    [[nodiscard]] bool holdsMap() const;
};

// One run of a file's data: `count` blocks from logical block `logical`
// stored from physical block `physical`. An unwritten run reads as zeros.
struct BlockRun {
    std::uint64_t logical = 0;
    std::uint64_t physical = 0;
    std::uint64_t count = 0;
    bool unwritten = false;
    bool taken = false; // a deleted file's blocks that another file holds now
};

struct ExtentHeader {
    std::uint16_t entries = 0, max = 0, depth = 0;
    // nullopt unless the magic is right and entries ≤ max ≤ what fits.
    static std::optional<ExtentHeader> parse(std::span<const std::uint8_t> node);
};

// A directory entry as found in a directory block.
struct DirectoryEntry {
    std::size_t offset = 0; // in the block
    std::uint32_t inode = 0;
    std::uint16_t recordLength = 0;
    std::uint16_t nameLength = 0;
    std::uint8_t fileType = 0; // 1 regular, 2 directory, 7 symlink, …; 0 without the feature
    std::span<const std::uint8_t> name;
};

// The entries of one directory block, in order, walked by record length.
// Walking stops at a record that would leave the block or is shorter than
// its name.
std::vector<DirectoryEntry> directoryEntries(std::span<const std::uint8_t> block, bool hasFileType);

// Names left behind in a block: removing an entry adds its record to the
// one before it, so the removed entry stays in the space past that
// record's own name until something else is written there. An entry found
// there must fit in the record that hides it, name a non-zero inode, have a
// name with no NUL or '/', a record length of its own that holds the name
// and stays inside the block, and (with the file-type feature) a known
// type. The search moves on by at least four bytes each step, so it ends.
std::vector<DirectoryEntry> deletedEntries(std::span<const std::uint8_t> block, bool hasFileType);

} // namespace qis::extdisk

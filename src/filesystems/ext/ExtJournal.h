#pragma once

#include "filesystems/ext/ExtStructures.h"
#include "images/readWriteInterface.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace qis::extjournal {

// jbd2, the journal of ext3 and ext4: big-endian blocks, each journal block
// the size of a file-system block. Only read here, never replayed.
inline constexpr std::uint32_t kMagic = 0xC03B3998;
inline constexpr std::uint32_t kDescriptorBlock = 1;
inline constexpr std::uint32_t kCommitBlock = 2;
inline constexpr std::uint32_t kSuperblockV1 = 3;
inline constexpr std::uint32_t kSuperblockV2 = 4;
inline constexpr std::uint32_t kRevokeBlock = 5;

inline constexpr std::uint32_t kIncompatRevoke = 0x01;
inline constexpr std::uint32_t kIncompat64Bit = 0x02;
inline constexpr std::uint32_t kIncompatCsumV2 = 0x08;
inline constexpr std::uint32_t kIncompatCsumV3 = 0x10;
inline constexpr std::uint32_t kIncompatFastCommit = 0x20;

inline constexpr std::uint32_t kTagEscape = 0x01;   // the block began with the magic, stored zeroed
inline constexpr std::uint32_t kTagSameUuid = 0x02; // no 16-byte UUID follows the tag
inline constexpr std::uint32_t kTagDeleted = 0x04;
inline constexpr std::uint32_t kTagLast = 0x08;

// The three fields every journal block other than data starts with.
struct BlockHeader {
    std::uint32_t type = 0;
    std::uint32_t sequence = 0;
    // nullopt unless the block starts with the magic.
    static std::optional<BlockHeader> parse(std::span<const std::uint8_t> block);
};

struct JournalSuperblock {
    std::uint32_t version = 2; // 1 has no feature fields
    std::uint32_t blockSize = 0;
    std::uint32_t maxLen = 0; // journal blocks, the superblock's own included
    std::uint32_t first = 0;  // first block of the log
    std::uint32_t sequence = 0;
    std::uint32_t start = 0; // 0 when nothing is left to replay
    std::uint32_t featureCompat = 0, featureIncompat = 0, featureRoCompat = 0;
    std::uint32_t fastCommitBlocks = 0; // at the end, outside the log

    // nullopt unless the magic, the type, the block size (a power of two
    // from 1 to 64 KiB) and first < maxLen make sense.
    static std::optional<JournalSuperblock> parse(std::span<const std::uint8_t> block);

    [[nodiscard]] bool is64Bit() const { return featureIncompat & kIncompat64Bit; }
    [[nodiscard]] bool hasBlockTail() const { return featureIncompat & (kIncompatCsumV2 | kIncompatCsumV3); }
    // 16 with checksum v3; else 8, 4 more when 64-bit, 2 more with checksum v2.
    [[nodiscard]] std::size_t tagBytes() const;
    // One past the last block of the log: data that runs past it goes on at `first`.
    [[nodiscard]] std::uint32_t logEnd() const;
};

struct Tag {
    std::uint64_t fsBlock = 0;
    std::uint32_t flags = 0;
};

// The tags of a descriptor block in order, up to the one marked last or
// the end of the block (its checksum tail left out).
std::vector<Tag> descriptorTags(std::span<const std::uint8_t> block, const JournalSuperblock& sb);

// The file-system blocks a revoke block names.
std::vector<std::uint64_t> revokedBlocks(std::span<const std::uint8_t> block, const JournalSuperblock& sb);

// Gives an escaped copy back the magic the journal zeroed in its first four bytes.
void restoreEscapedMagic(std::span<std::uint8_t> block);

// One copy of a file-system block kept in the journal.
struct JournalCopy {
    std::uint64_t fsBlock = 0;
    std::uint32_t sequence = 0;     // of the transaction that wrote it
    std::uint32_t journalBlock = 0; // where in the journal it lies
    bool escaped = false;           // its first four bytes must be given the magic back
    bool revokedLater = false;      // a later or the same transaction revoked the block: it stopped being metadata
};

// Bounds on what a journal may make the reader do, whatever it claims.
struct JournalLimits {
    std::uint64_t maxBlocks = 1u << 22; // 16 GiB of 4 KiB blocks
    std::size_t maxCopies = 1u << 20;
    std::size_t maxRevokes = 1u << 20;
};

// Every copy of every block that a committed transaction anywhere in the
// journal holds, the old, already checkpointed ones as much as the live
// part: those are what keep blocks as they were before a later change.
class JournalIndex {
public:
    // The copies of one block, newest first.
    [[nodiscard]] std::span<const JournalCopy> copiesOf(std::uint64_t fsBlock) const;
    [[nodiscard]] std::span<const JournalCopy> all() const { return copies_; }
    [[nodiscard]] std::size_t copyCount() const { return copies_.size(); }
    [[nodiscard]] std::size_t transactionCount() const { return transactions_; }
    [[nodiscard]] bool truncated() const { return truncated_; }
    // True when transaction a came after transaction b (sequence numbers wrap).
    [[nodiscard]] static bool newer(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b) > 0; }

private:
    friend JournalIndex indexJournal(const JournalSuperblock&, const std::function<bool(std::uint32_t, std::span<std::uint8_t>)>&,
                                     const JournalLimits&, const std::function<bool()>&);
    std::vector<JournalCopy> copies_; // by block, then newest first
    std::size_t transactions_ = 0;
    bool truncated_ = false;
};

// Reads journal block n (0 is the journal superblock) into the span; false
// when it cannot be read.
using JournalBlockReader = std::function<bool(std::uint32_t, std::span<std::uint8_t>)>;

// Looks at every block of the log for descriptor, commit and revoke blocks
// and keeps the copies of transactions whose commit block is still there.
// `stop` (may be empty) ends the walk early with what was found.
JournalIndex indexJournal(const JournalSuperblock& sb, const JournalBlockReader& read, const JournalLimits& limits = {},
                          const std::function<bool()>& stop = {});

// The internal journal of an ext3 or ext4 volume, read through its inode.
class ExtJournal {
public:
    // Null when the volume has no internal journal or it cannot be read.
    static std::unique_ptr<ExtJournal> open(readWriteInterface& reader, const extdisk::Superblock& fs,
                                            std::uint64_t superblockOffset,
                                            const std::vector<extdisk::GroupDescriptor>& descriptors,
                                            const std::function<bool()>& stop = {}, const JournalLimits& limits = {});

    [[nodiscard]] const JournalSuperblock& superblock() const { return sb_; }
    [[nodiscard]] const JournalIndex& index() const { return index_; }
    [[nodiscard]] std::span<const JournalCopy> copiesOf(std::uint64_t fsBlock) const { return index_.copiesOf(fsBlock); }
    // The block as the copy holds it (its magic restored when escaped);
    // `out` is one block long.
    bool readCopy(const JournalCopy& copy, std::span<std::uint8_t> out) const;
    // Reads journal block n; false when outside the journal or unreadable.
    bool readJournalBlock(std::uint32_t n, std::span<std::uint8_t> out) const;

private:
    ExtJournal(readWriteInterface& reader, std::uint64_t blockSize) : reader_(reader), blockSize_(blockSize) {}
    readWriteInterface& reader_;
    std::uint64_t blockSize_;
    std::vector<extdisk::BlockRun> runs_; // where the journal file lies
    JournalSuperblock sb_;
    JournalIndex index_;
};

} // namespace qis::extjournal

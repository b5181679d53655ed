#include "filesystems/ext/ExtJournal.h"

#include "filesystems/ext/ExtBlockMap.h"
#include "images/VolumeBytes.h"
#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <unordered_set>

namespace qis::extjournal {

using namespace extdisk;

namespace {

constexpr std::size_t kHeaderBytes = 12;
constexpr std::size_t kTailBytes = 4; // the checksum at the end of descriptor and revoke blocks
constexpr std::size_t kUuidBytes = 16;
constexpr std::uint32_t kDefaultFastCommitBlocks = 256;
// ext superblock fields the journal is found by.
constexpr std::size_t kCompatOffset = 0x5C;
constexpr std::uint32_t kCompatHasJournal = 0x0004;
constexpr std::size_t kJournalInodeOffset = 0xE0;
constexpr std::size_t kJournalDeviceOffset = 0xE4;

} // namespace

std::optional<BlockHeader> BlockHeader::parse(std::span<const std::uint8_t> block)
{
    ByteReader r(block);
    if (r.u32be(0) != kMagic || !r.ok())
        return std::nullopt;
    return BlockHeader{r.u32be(4), r.u32be(8)};
}

std::optional<JournalSuperblock> JournalSuperblock::parse(std::span<const std::uint8_t> block)
{
    auto header = BlockHeader::parse(block);
    if (!header || (header->type != kSuperblockV1 && header->type != kSuperblockV2))
        return std::nullopt;
    ByteReader r(block);
    JournalSuperblock sb;
    sb.version = header->type == kSuperblockV1 ? 1 : 2;
    sb.blockSize = r.u32be(0x0C);
    sb.maxLen = r.u32be(0x10);
    sb.first = r.u32be(0x14);
    sb.sequence = r.u32be(0x18);
    sb.start = r.u32be(0x1C);
    if (sb.version == 2) {
        sb.featureCompat = r.u32be(0x24);
        sb.featureIncompat = r.u32be(0x28);
        sb.featureRoCompat = r.u32be(0x2C);
        if (sb.featureIncompat & kIncompatFastCommit) {
            std::uint32_t n = r.u32be(0x54);
            sb.fastCommitBlocks = n != 0 ? n : kDefaultFastCommitBlocks;
        }
    }
    if (!r.ok() || sb.blockSize < 1024 || sb.blockSize > 65536 || !isPowerOfTwo(sb.blockSize))
        return std::nullopt;
    if (sb.first == 0 || sb.first >= sb.maxLen)
        return std::nullopt;
    return sb;
}

std::size_t JournalSuperblock::tagBytes() const
{
    if (featureIncompat & kIncompatCsumV3)
        return 16;
    std::size_t n = 8;
    if (is64Bit())
        n += 4;
    if (featureIncompat & kIncompatCsumV2)
        n += 2;
    return n;
}

std::uint32_t JournalSuperblock::logEnd() const
{
    // Fast-commit blocks follow the log; a count that leaves no log is ignored.
    return fastCommitBlocks < maxLen - first ? maxLen - fastCommitBlocks : maxLen;
}

std::vector<Tag> descriptorTags(std::span<const std::uint8_t> block, const JournalSuperblock& sb)
{
    std::vector<Tag> tags;
    const std::size_t tagSize = sb.tagBytes();
    const std::size_t end = block.size() >= kHeaderBytes + (sb.hasBlockTail() ? kTailBytes : 0)
                                ? block.size() - (sb.hasBlockTail() ? kTailBytes : 0)
                                : 0;
    const bool v3 = sb.featureIncompat & kIncompatCsumV3;
    ByteReader r(block);
    for (std::size_t at = kHeaderBytes; at + tagSize <= end;) {
        Tag t;
        t.fsBlock = r.u32be(at);
        t.flags = v3 ? r.u32be(at + 4) : r.u16be(at + 6);
        if (sb.is64Bit())
            t.fsBlock |= std::uint64_t{r.u32be(at + 8)} << 32;
        tags.push_back(t);
        at += tagSize;
        if (!(t.flags & kTagSameUuid))
            at += kUuidBytes;
        if (t.flags & kTagLast)
            break;
    }
    return tags;
}

std::vector<std::uint64_t> revokedBlocks(std::span<const std::uint8_t> block, const JournalSuperblock& sb)
{
    std::vector<std::uint64_t> blocks;
    ByteReader r(block);
    const std::size_t limit = block.size() >= kTailBytes && sb.hasBlockTail() ? block.size() - kTailBytes : block.size();
    const std::size_t used = std::min<std::size_t>(r.u32be(kHeaderBytes), limit);
    const std::size_t record = sb.is64Bit() ? 8 : 4;
    for (std::size_t at = kHeaderBytes + 4; at + record <= used; at += record)
        blocks.push_back(record == 8 ? r.u64be(at) : r.u32be(at));
    return blocks;
}

std::span<const JournalCopy> JournalIndex::copiesOf(std::uint64_t fsBlock) const
{
    auto lo = std::lower_bound(copies_.begin(), copies_.end(), fsBlock,
                               [](const JournalCopy& c, std::uint64_t b) { return c.fsBlock < b; });
    auto hi = std::upper_bound(lo, copies_.end(), fsBlock,
                               [](std::uint64_t b, const JournalCopy& c) { return b < c.fsBlock; });
    return {lo, hi};
}

namespace {

struct Descriptor {
    std::uint32_t position = 0;
    std::size_t firstTag = 0, tagCount = 0;
};

struct Revoke {
    std::uint64_t fsBlock = 0;
    std::uint32_t sequence = 0;
};

enum : std::uint8_t { kUnknown, kNo, kYes, kWalking };

} // namespace

JournalIndex indexJournal(const JournalSuperblock& sb, const JournalBlockReader& read, const JournalLimits& limits,
                          const std::function<bool()>& stop)
{
    JournalIndex index;
    std::uint32_t end = sb.logEnd();
    if (end > limits.maxBlocks) {
        end = static_cast<std::uint32_t>(limits.maxBlocks);
        index.truncated_ = true;
    }
    if (sb.first >= end)
        return index;
    const std::uint32_t first = sb.first;
    const std::uint32_t length = end - first;
    auto wrap = [&](std::uint64_t position) {
        return static_cast<std::uint32_t>(first + (position - first) % length);
    };

    // What every block of the log is: 0 for data, else its type and sequence.
    std::vector<std::uint8_t> type(length, 0);
    std::vector<std::uint32_t> sequence(length, 0);
    std::vector<Descriptor> descriptors;
    std::vector<Tag> tags;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint64_t>>> revokeBlocks; // position, blocks
    std::size_t revokeCount = 0;
    std::vector<std::uint8_t> block(sb.blockSize);
    for (std::uint32_t p = first; p < end; ++p) {
        if (stop && (p - first) % 1024 == 0 && stop()) {
            index.truncated_ = true;
            break;
        }
        if (!read(p, block))
            continue;
        auto header = BlockHeader::parse(block);
        if (!header || header->type < kDescriptorBlock || header->type > kRevokeBlock ||
            header->type == kSuperblockV1 || header->type == kSuperblockV2)
            continue;
        type[p - first] = static_cast<std::uint8_t>(header->type);
        sequence[p - first] = header->sequence;
        if (header->type == kDescriptorBlock) {
            auto found = descriptorTags(block, sb);
            if (tags.size() + found.size() > limits.maxCopies) {
                index.truncated_ = true;
                type[p - first] = 0;
                continue;
            }
            descriptors.push_back({p, tags.size(), found.size()});
            tags.insert(tags.end(), found.begin(), found.end());
        } else if (header->type == kRevokeBlock) {
            auto found = revokedBlocks(block, sb);
            if (revokeCount + found.size() > limits.maxRevokes) {
                index.truncated_ = true;
                continue;
            }
            revokeCount += found.size();
            revokeBlocks.emplace_back(p, std::move(found));
        }
    }

    std::vector<std::uint32_t> tagCount(length, 0);
    for (const Descriptor& d : descriptors)
        tagCount[d.position - first] = static_cast<std::uint32_t>(d.tagCount);

    // A transaction counts only when its commit block is still where its
    // descriptors and revoke blocks lead: then nothing written later can
    // lie between them, since the log is written in order. Each block's
    // answer is worked out once; a chain that comes back on itself is no.
    std::vector<std::uint8_t> state(length, kUnknown);
    std::vector<std::uint32_t> path;
    auto committed = [&](std::uint32_t start) {
        path.clear();
        std::uint32_t p = start;
        std::uint8_t answer = kNo;
        for (;;) {
            std::uint32_t i = p - first;
            if (state[i] == kYes || state[i] == kNo) {
                answer = state[i];
                break;
            }
            if (state[i] == kWalking)
                break;
            state[i] = kWalking;
            path.push_back(i);
            std::uint64_t skip = type[i] == kDescriptorBlock ? tagCount[i] : 0;
            if (skip >= length)
                break; // its data would run over itself
            std::uint32_t next = wrap(std::uint64_t{p} + 1 + skip);
            std::uint32_t j = next - first;
            if (sequence[j] != sequence[i] || type[j] == 0) {
                break;
            }
            if (type[j] == kCommitBlock) {
                answer = kYes;
                break;
            }
            p = next;
        }
        for (std::uint32_t i : path)
            state[i] = answer;
        return answer == kYes;
    };

    std::unordered_set<std::uint32_t> transactions;
    for (const Descriptor& d : descriptors) {
        if (!committed(d.position))
            continue;
        const std::uint32_t seq = sequence[d.position - first];
        transactions.insert(seq);
        for (std::size_t k = 0; k < d.tagCount; ++k) {
            const Tag& t = tags[d.firstTag + k];
            std::uint32_t at = wrap(std::uint64_t{d.position} + 1 + k);
            if (type[at - first] != 0)
                continue; // a journal block where data should be: not this transaction's copy
            index.copies_.push_back({t.fsBlock, seq, at, (t.flags & kTagEscape) != 0, false});
        }
    }
    index.transactions_ = transactions.size();

    std::vector<Revoke> revokes;
    for (auto& [position, blocks] : revokeBlocks)
        if (committed(position))
            for (std::uint64_t b : blocks)
                revokes.push_back({b, sequence[position - first]});
    std::sort(revokes.begin(), revokes.end(), [](const Revoke& a, const Revoke& b) { return a.fsBlock < b.fsBlock; });

    // Newest first: by distance back from the newest transaction found,
    // which copes with sequence numbers that wrapped.
    std::uint32_t newest = sb.sequence;
    for (std::uint32_t s : transactions)
        if (JournalIndex::newer(s, newest))
            newest = s;
    std::sort(index.copies_.begin(), index.copies_.end(), [newest](const JournalCopy& a, const JournalCopy& b) {
        if (a.fsBlock != b.fsBlock)
            return a.fsBlock < b.fsBlock;
        std::uint32_t ageA = newest - a.sequence, ageB = newest - b.sequence;
        if (ageA != ageB)
            return ageA < ageB;
        return a.journalBlock > b.journalBlock;
    });
    for (JournalCopy& c : index.copies_) {
        auto it = std::lower_bound(revokes.begin(), revokes.end(), c.fsBlock,
                                   [](const Revoke& r, std::uint64_t b) { return r.fsBlock < b; });
        for (; it != revokes.end() && it->fsBlock == c.fsBlock && !c.revokedLater; ++it)
            c.revokedLater = !JournalIndex::newer(c.sequence, it->sequence);
    }
    return index;
}

std::unique_ptr<ExtJournal> ExtJournal::open(readWriteInterface& reader, const Superblock& fs, std::uint64_t superblockOffset,
                                             const std::vector<GroupDescriptor>& descriptors,
                                             const std::function<bool()>& stop, const JournalLimits& limits)
{
    std::vector<std::uint8_t> raw(kSuperblockSize);
    if (!readVolumeBytes(reader, superblockOffset, raw))
        return nullptr;
    ByteReader r(raw);
    const std::uint32_t inodeNumber = r.u32le(kJournalInodeOffset);
    // Only a journal inside the volume can be read; one on another device is not in the image.
    if (!(r.u32le(kCompatOffset) & kCompatHasJournal) || inodeNumber == 0 || inodeNumber > fs.inodesCount ||
        r.u32le(kJournalDeviceOffset) != 0)
        return nullptr;
    const std::uint64_t group = (inodeNumber - 1) / fs.inodesPerGroup;
    if (group >= descriptors.size() || descriptors[group].inodeTable == 0 ||
        descriptors[group].inodeTable >= fs.blocksCount)
        return nullptr;
    const std::uint64_t B = fs.blockSize();
    std::vector<std::uint8_t> inodeBytes(fs.inodeSize);
    if (!readVolumeBytes(reader, descriptors[group].inodeTable * B + ((inodeNumber - 1) % fs.inodesPerGroup) * fs.inodeSize,
                         inodeBytes))
        return nullptr;
    Inode inode = Inode::parse(inodeBytes);
    if (!inode.isRegular() || inode.size < 2 * B)
        return nullptr;

    std::unique_ptr<ExtJournal> journal(new ExtJournal(reader, B));
    journal->runs_ = collectBlocks(reader, fs, inode);
    if (journal->runs_.empty())
        return nullptr;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(B));
    if (!journal->readJournalBlock(0, block))
        return nullptr;
    auto sb = JournalSuperblock::parse(block);
    if (!sb || sb->blockSize != B)
        return nullptr;
    // The journal is a file of the volume: it reaches no further than the
    // file does, nor than the volume.
    const std::uint64_t fileBlocks = std::min(ceilDiv(inode.size, B), fs.blocksCount);
    if (sb->maxLen > fileBlocks)
        sb->maxLen = static_cast<std::uint32_t>(fileBlocks);
    if (sb->first >= sb->maxLen)
        return nullptr;
    journal->sb_ = *sb;
    const ExtJournal* self = journal.get();
    journal->index_ = indexJournal(
        journal->sb_, [self](std::uint32_t n, std::span<std::uint8_t> out) { return self->readJournalBlock(n, out); },
        limits, stop);
    return journal;
}

bool ExtJournal::readJournalBlock(std::uint32_t n, std::span<std::uint8_t> out) const
{
    auto it = std::upper_bound(runs_.begin(), runs_.end(), std::uint64_t{n},
                               [](std::uint64_t v, const BlockRun& run) { return v < run.logical; });
    if (it == runs_.begin()) {
        std::fill(out.begin(), out.end(), 0);
        return false;
    }
    const BlockRun& run = *std::prev(it);
    if (n - run.logical >= run.count || out.size() != blockSize_) {
        std::fill(out.begin(), out.end(), 0);
        return false;
    }
    if (run.unwritten) {
        std::fill(out.begin(), out.end(), 0);
        return true;
    }
    return readVolumeBytes(reader_, (run.physical + (n - run.logical)) * blockSize_, out);
}

bool ExtJournal::readCopy(const JournalCopy& copy, std::span<std::uint8_t> out) const
{
    if (!readJournalBlock(copy.journalBlock, out))
        return false;
    if (copy.escaped)
        restoreEscapedMagic(out);
    return true;
}

void restoreEscapedMagic(std::span<std::uint8_t> block)
{
    if (block.size() < 4)
        return;
    block[0] = static_cast<std::uint8_t>(kMagic >> 24);
    block[1] = static_cast<std::uint8_t>(kMagic >> 16);
    block[2] = static_cast<std::uint8_t>(kMagic >> 8);
    block[3] = static_cast<std::uint8_t>(kMagic);
}

} // namespace qis::extjournal

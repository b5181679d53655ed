#include "filesystems/ext/ExtJournalRecovery.h"

#include "filesystems/ext/ExtBlockMap.h"
#include "images/VolumeBytes.h"
#include "util/ByteReader.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace qis::extjournal {

using namespace extdisk;

namespace {

constexpr std::size_t kGenerationOffset = 0x64;
constexpr std::uint64_t kMaxCachedBytes = 16u << 20;

// The volume as it was at one transaction, for the blocks the journal
// kept: a read is taken from the volume and every block with a journal
// copy from that transaction or an earlier one is laid over it. Only the
// map of a recovered file is read through it: its data never went through
// the journal.
class JournalOverlay : public readWriteInterface {
public:
    JournalOverlay(readWriteInterface& base, const ExtJournal& journal, std::uint64_t blockSize, std::uint32_t sequence)
        : base_(base), journal_(journal), blockSize_(blockSize), sequence_(sequence), copy_(blockSize)
    {
    }

    bool open(std::filesystem::path) override { return false; }

    bool seek(std::int64_t offset, std::int32_t origin) override
    {
        position_ = offset < 0 ? 0 : static_cast<std::uint64_t>(offset) / kSectorSize * kSectorSize;
        return base_.seek(offset, origin);
    }

    bool read(void* buffer, std::uint32_t length) override
    {
        bool ok = base_.read(buffer, length);
        auto* out = static_cast<std::uint8_t*>(buffer);
        const std::uint64_t start = position_, end = position_ + length;
        for (std::uint64_t b = start / blockSize_; b * blockSize_ < end; ++b) {
            if (!copyAt(b))
                continue;
            std::uint64_t from = std::max(start, b * blockSize_), to = std::min(end, (b + 1) * blockSize_);
            std::memcpy(out + (from - start), copy_.data() + (from - b * blockSize_), static_cast<std::size_t>(to - from));
        }
        position_ += length / kSectorSize * kSectorSize;
        return ok;
    }

private:
    // Loads into copy_ the newest copy of the block not newer than the transaction.
    bool copyAt(std::uint64_t block)
    {
        for (const JournalCopy& c : journal_.copiesOf(block))
            if (!JournalIndex::newer(c.sequence, sequence_))
                return journal_.readCopy(c, copy_);
        return false;
    }

    readWriteInterface& base_;
    const ExtJournal& journal_;
    std::uint64_t blockSize_;
    std::uint32_t sequence_;
    std::uint64_t position_ = 0;
    std::vector<std::uint8_t> copy_;
};

} // namespace

std::unique_ptr<readWriteInterface> journalOverlay(readWriteInterface& volume, const ExtJournal& journal,
                                                   std::uint64_t blockSize, std::uint32_t sequence)
{
    return std::make_unique<JournalOverlay>(volume, journal, blockSize, sequence);
}

bool hasCopyBy(const ExtJournal& journal, std::uint64_t block, std::uint32_t sequence)
{
    for (const JournalCopy& c : journal.copiesOf(block))
        if (!JournalIndex::newer(c.sequence, sequence))
            return true;
    return false;
}

bool holdsBlockMap(const Inode& inode)
{
    if (inode.flags & kExtentsFlag) {
        auto header = ExtentHeader::parse(std::span<const std::uint8_t>(inode.block, sizeof inode.block));
        return header && header->entries > 0;
    }
    return std::any_of(std::begin(inode.block), std::end(inode.block), [](std::uint8_t b) { return b != 0; });
}

bool ExtJournalRecovery::inodeLocation(std::uint32_t number, std::uint64_t& block, std::size_t& offset) const
{
    if (number == 0 || number > sb_.inodesCount)
        return false;
    const std::uint64_t group = (number - 1) / sb_.inodesPerGroup;
    if (group >= descriptors_.size() || descriptors_[group].inodeTable == 0 ||
        descriptors_[group].inodeTable >= sb_.blocksCount)
        return false;
    const std::uint64_t bytes = std::uint64_t{(number - 1) % sb_.inodesPerGroup} * sb_.inodeSize;
    block = descriptors_[group].inodeTable + bytes / sb_.blockSize();
    offset = static_cast<std::size_t>(bytes % sb_.blockSize());
    return block < sb_.blocksCount;
}

bool ExtJournalRecovery::currentInode(std::uint32_t number, Inode& inode, std::uint32_t& generation)
{
    std::uint64_t block = 0;
    std::size_t offset = 0;
    if (!inodeLocation(number, block, offset))
        return false;
    std::vector<std::uint8_t> bytes(sb_.inodeSize);
    if (!readVolumeBytes(reader_, block * sb_.blockSize() + offset, bytes))
        return false;
    inode = Inode::parse(bytes);
    generation = ByteReader(bytes).u32le(kGenerationOffset);
    return true;
}

std::vector<ExtJournalRecovery::InodeCopy> ExtJournalRecovery::inodeCopies(std::uint32_t number)
{
    std::vector<InodeCopy> copies;
    std::uint64_t block = 0;
    std::size_t offset = 0;
    if (!inodeLocation(number, block, offset))
        return copies;
    if (block != cachedBlock_) {
        cachedBlock_ = block;
        cachedCopies_.clear();
        std::span<const JournalCopy> found = journal_.copiesOf(block);
        // Past this many the copies are read for each inode rather than kept.
        const std::size_t keep = std::min<std::size_t>(found.size(), kMaxCachedBytes / sb_.blockSize());
        for (const JournalCopy& c : found.first(keep)) {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(sb_.blockSize()));
            if (journal_.readCopy(c, bytes))
                cachedCopies_.emplace_back(c.sequence, std::move(bytes));
        }
    }
    auto add = [&](std::uint32_t sequence, std::span<const std::uint8_t> bytes) {
        auto record = bytes.subspan(offset, sb_.inodeSize);
        copies.push_back({Inode::parse(record), ByteReader(record).u32le(kGenerationOffset), sequence});
    };
    for (const auto& [sequence, bytes] : cachedCopies_)
        add(sequence, bytes);
    std::span<const JournalCopy> found = journal_.copiesOf(block);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(sb_.blockSize()));
    for (std::size_t i = std::min<std::size_t>(found.size(), kMaxCachedBytes / sb_.blockSize()); i < found.size(); ++i)
        if (journal_.readCopy(found[i], bytes))
            add(found[i].sequence, bytes);
    return copies;
}

std::vector<BlockRun> ExtJournalRecovery::runsAt(const Inode& inode, std::uint32_t sequence, bool* complete)
{
    JournalOverlay overlay(reader_, journal_, sb_.blockSize(), sequence);
    return collectBlocks(overlay, sb_, inode, complete);
}

std::vector<BlockRun> ExtJournalRecovery::runsOf(const JournalEntry& entry, bool* complete)
{
    return runsAt(entry.inode, entry.inodeSequence, complete);
}

std::vector<JournalEntry> ExtJournalRecovery::findRemoved(const std::vector<std::uint32_t>& folders,
                                                         const std::function<bool(std::uint32_t)>& inUse,
                                                         const std::function<bool()>& stop)
{
    struct Folder {
        std::uint32_t number = 0;
        std::vector<BlockRun> runs;
    };
    struct Name {
        std::string name;
        std::uint32_t sequence = 0;
    };
    std::deque<Folder> queue;
    std::unordered_set<std::uint32_t> visited;
    for (std::uint32_t n : folders) {
        Inode inode;
        std::uint32_t generation = 0;
        if (visited.insert(n).second && currentInode(n, inode, generation) && inode.isDirectory())
            queue.push_back({n, collectBlocks(reader_, sb_, inode)});
    }
    std::unordered_map<std::uint32_t, JournalEntry> found;
    std::vector<JournalEntry> reusedFound;
    std::size_t blocksRead = 0, copiesRead = 0, namesLooked = 0;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(sb_.blockSize()));
    while (!queue.empty() && found.size() < kMaxEntries) {
        Folder folder = std::move(queue.front());
        queue.pop_front();
        // Every name any journal copy of the folder's blocks gives, with the
        // newest transaction that still had it.
        // Keyed by inode and name: an inode given to another file since has
        // both names, the older one the removed file's.
        std::map<std::pair<std::uint32_t, std::string>, std::uint32_t> names;
        for (const BlockRun& run : folder.runs) {
            for (std::uint64_t k = 0; k < run.count && !run.unwritten; ++k) {
                if (++blocksRead > kMaxFolderBlocks)
                    break;
                for (const JournalCopy& copy : journal_.copiesOf(run.physical + k)) {
                    if (stop && stop())
                        return {};
                    if (++copiesRead > kMaxCopyReads)
                        break;
                    if (!journal_.readCopy(copy, block))
                        continue;
                    for (const DirectoryEntry& d : directoryEntries(block, sb_.hasFileType())) {
                        if (d.inode < kRootInode || d.inode > sb_.inodesCount || d.name.empty())
                            continue;
                        std::string name(d.name.begin(), d.name.end());
                        if (name == "." || name == ".." || name.find('\0') != std::string::npos)
                            continue;
                        auto key = std::make_pair(d.inode, std::move(name));
                        auto it = names.find(key);
                        if (it == names.end()) {
                            if (names.size() < kMaxEntries)
                                names.emplace(std::move(key), copy.sequence);
                        } else if (JournalIndex::newer(copy.sequence, it->second)) {
                            it->second = copy.sequence;
                        }
                    }
                }
            }
        }
        for (auto& [key, nameSequence] : names) {
            const std::uint32_t number = key.first;
            const Name name{key.second, nameSequence};
            if (found.size() >= kMaxEntries || ++namesLooked > kMaxCopyReads)
                break;
            Inode current;
            std::uint32_t generation = 0;
            if (!currentInode(number, current, generation))
                continue;
            std::vector<InodeCopy> copies = inodeCopies(number);
            const InodeCopy* pick = nullptr;
            const bool reused = inUse(number);
            if (reused) {
                // Another file has the inode now. The copy from when the
                // folder still named it says what it was then; a file of
                // the same generation is the same file, still there. Only
                // files: a folder's children would name the live inode.
                for (const InodeCopy& c : copies)
                    if (!JournalIndex::newer(c.sequence, name.sequence)) {
                        if (c.generation != generation && c.inode.linksCount > 0 && c.inode.isRegular() &&
                            holdsBlockMap(c.inode))
                            pick = &c;
                        break;
                    }
            } else {
                // The same file (the generation survives the removal): best
                // before it was unlinked, when the whole map was there, else
                // any copy that still has a map.
                for (const InodeCopy& c : copies)
                    if (c.generation == generation && c.inode.linksCount > 0 && holdsBlockMap(c.inode)) {
                        pick = &c;
                        break;
                    }
                for (std::size_t i = 0; pick == nullptr && i < copies.size(); ++i)
                    if (copies[i].generation == generation && holdsBlockMap(copies[i].inode))
                        pick = &copies[i];
            }
            if (pick == nullptr || (!pick->inode.isRegular() && !pick->inode.isDirectory()))
                continue;
            JournalEntry e;
            e.inodeNumber = number;
            e.parentInode = folder.number;
            e.name = name.name;
            e.inode = pick->inode;
            e.inodeSequence = pick->sequence;
            e.nameSequence = name.sequence;
            e.inodeReused = reused;
            if (reused) {
                if (reusedFound.size() + found.size() < kMaxEntries)
                    reusedFound.push_back(std::move(e));
                continue;
            }
            auto it = found.find(number);
            if (it != found.end() && !JournalIndex::newer(name.sequence, it->second.nameSequence))
                continue;
            found[number] = e;
            if (e.inode.isDirectory() && visited.insert(number).second)
                queue.push_back({number, runsAt(e.inode, e.inodeSequence, nullptr)});
        }
    }
    std::vector<JournalEntry> entries;
    entries.reserve(found.size());
    for (auto& [number, e] : found)
        entries.push_back(std::move(e));
    for (JournalEntry& e : reusedFound)
        entries.push_back(std::move(e));
    std::sort(entries.begin(), entries.end(),
              [](const JournalEntry& a, const JournalEntry& b) {
                  return std::tie(a.inodeNumber, a.name) < std::tie(b.inodeNumber, b.name);
              });
    return entries;
}

} // namespace qis::extjournal

#include "filesystems/hfsplus/HFSP.h"

#include "filesystems/FreeSpace.h"

#include "filesystems/ParentLinks.h"

#include "filesystems/DisplayText.h"
#include "images/VolumeBytes.h"
#include "filesystems/VolumeSweep.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qis {

using namespace hfsdisk;

namespace {

constexpr std::uint64_t kDeepWindow = 52428800;
constexpr std::uint64_t kNodeChunk = 4u << 20;
constexpr std::uint64_t kCopyPiece = 1u << 20;
constexpr std::size_t kMaxNodes = 16u << 20;
// Overflow records one fork may chain through; each adds at least a block.
constexpr std::size_t kMaxOverflowSteps = 1u << 20;
// Deleted records kept, in all and from one node (a 32 KiB node has room
// for a few hundred).
constexpr std::size_t kMaxLeftovers = 1u << 20;
constexpr std::size_t kMaxLooseInNode = 1024;

std::optional<UnixTime> hfsTime(std::uint32_t date)
{
    if (date == 0)
        return std::nullopt;
    return UnixTime{static_cast<std::int64_t>(date) - kHfsEpochToUnix, 0};
}

std::string timeText(const std::optional<UnixTime>& t) { return t ? formatUnixTimeText(t->seconds) : std::string(); }

std::uint64_t blocksIn(const std::vector<Extent>& extents)
{
    std::uint64_t n = 0;
    for (const Extent& e : extents)
        n += e.blockCount;
    return n;
}

} // namespace

std::string hfsModeText(std::uint16_t mode)
{
    static constexpr std::pair<std::uint16_t, const char*> kTokens[] = {
        {0x040, "-Owner:X"}, {0x080, "-Owner:W"}, {0x100, "-Owner:R"}, {0x001, "-OX"}, {0x002, "-OW"},
        {0x004, "-OR"},      {0x008, "-GX"},      {0x010, "-GW"},      {0x020, "-GR"}};
    std::string text;
    for (auto [bit, token] : kTokens)
        if (mode & bit)
            text += token;
    return text;
}

void HFSP::attachVolume()
{
    reader->baseOffset = static_cast<std::int64_t>(volumeStartSector * kSectorSize);
    volumeSize = withinDisk(*reader, volumeReachFromSizeText(volumeSizeText));
    reader->seek(0, 0);
}

std::uint64_t HFSP::volumeBlocks() const
{
    std::uint64_t blocks = header.totalBlocks;
    if (volumeSize != 0 && blockSize != 0)
        blocks = std::min<std::uint64_t>(blocks, volumeSize / blockSize);
    return blocks;
}

bool HFSP::readVolumeHeader()
{
    std::uint8_t bytes[512];
    readVolumeBytes(*reader, 1024, bytes);
    header = VolumeHeader::parse(bytes);
    blockSize = header.blockSize;
    // Any power of two from 512 bytes on is a valid allocation block.
    return header.signatureOk && blockSize >= 512 && isPowerOfTwo(blockSize) && blockSize <= (1u << 30);
}

std::vector<Extent> HFSP::forkExtents(std::uint32_t fileId, const ForkData& fork) const
{
    std::vector<Extent> extents;
    for (const Extent& e : fork.extents)
        if (e.blockCount != 0)
            extents.push_back(e);
    std::uint64_t n = blocksIn(extents);
    for (std::size_t step = 0; n < fork.totalBlocks && step < kMaxOverflowSteps; ++step) {
        auto more = overflowIndex.find({fileId, static_cast<std::uint32_t>(n)});
        if (more == overflowIndex.end())
            break;
        std::uint64_t before = n;
        for (const Extent& e : more->second)
            if (e.blockCount != 0) {
                extents.push_back(e);
                n += e.blockCount;
            }
        if (n == before)
            break;
    }
    return extents;
}

bool HFSP::readFork(const std::vector<Extent>& extents, std::uint64_t offset, std::span<std::uint8_t> out)
{
    bool ok = true;
    std::uint64_t forkAt = 0; // byte offset in the fork where the extent starts
    for (const Extent& e : extents) {
        std::uint64_t length = std::uint64_t{e.blockCount} * blockSize;
        while (!out.empty() && offset >= forkAt && offset < forkAt + length) {
            std::uint64_t n = std::min<std::uint64_t>(out.size(), forkAt + length - offset);
            ok = readVolumeBytes(*reader, std::uint64_t{e.startBlock} * blockSize + (offset - forkAt),
                                 out.first(static_cast<std::size_t>(n))) && ok;
            out = out.subspan(static_cast<std::size_t>(n));
            offset += n;
        }
        forkAt += length;
    }
    std::fill(out.begin(), out.end(), 0); // past the fork's extents
    return ok && out.empty();
}

bool HFSP::readNodes(const std::vector<Extent>& extents, std::uint16_t nodeSize, std::vector<NodeInfo>& nodes,
                     bool failOnBadHeader, JobContext& job)
{
    nodes.clear();
    // A tree no larger than its extents say, nor than the volume.
    const std::uint64_t forkBytes = std::min(blocksIn(extents), volumeBlocks()) * blockSize;
    std::vector<std::uint8_t> first(std::max<std::size_t>(512, nodeSize));
    readFork(extents, 0, first);
    auto h = BTreeHeader::parse(first);
    if (!h)
        return !failOnBadHeader;
    nodeSize = h->nodeSize;
    // The tree cannot hold more nodes than its file has room for.
    std::uint64_t total = std::min<std::uint64_t>({h->totalNodes, forkBytes / nodeSize, kMaxNodes});
    job.reporter().setProgressRange(0, progressValue(total));
    std::vector<std::uint8_t> chunk;
    const std::uint64_t perChunk = std::max<std::uint64_t>(1, kNodeChunk / nodeSize);
    for (std::uint64_t k0 = 0; k0 < total; k0 += perChunk) {
        if (job.stopSeen(stopRequested))
            break;
        job.reporter().setProgressPos(static_cast<std::int32_t>(k0));
        std::uint64_t count = std::min(perChunk, total - k0);
        chunk.resize(static_cast<std::size_t>(count * nodeSize));
        readFork(extents, k0 * nodeSize, chunk);
        for (std::uint64_t i = 0; i < count; ++i) {
            auto node = std::span<const std::uint8_t>(chunk).subspan(i * nodeSize, nodeSize);
            NodeDescriptor d = NodeDescriptor::parse(node);
            if (!d.plausible())
                continue;
            nodes.push_back({k0 + i, d.kind, d.height, d.numRecords, recordOffsets(node, d.numRecords), d.fLink});
        }
    }
    stopRequested.store(false);
    return true;
}

bool HFSP::readExtentsOverflow(JobContext& job)
{
    overflowIndex.clear();
    std::vector<Extent> extents = forkExtents(kExtentsFileId, header.extentsFile);
    std::vector<std::uint8_t> first(512);
    readFork(extents, 0, first);
    auto h = BTreeHeader::parse(first);
    // A volume whose files are all in one piece may have no overflow tree.
    if (!h)
        return true;
    extentsNodeSize = h->nodeSize;
    readNodes(extents, extentsNodeSize, extentsNodes, false, job);
    std::vector<std::uint8_t> node(extentsNodeSize);
    for (const NodeInfo& n : extentsNodes) {
        if (n.kind != kLeafNode)
            continue;
        readFork(extents, n.node * extentsNodeSize, node);
        for (std::uint16_t offset : n.offsets) {
            auto record = OverflowRecord::parse(node, offset);
            // Resource fork extents are not the data's.
            if (!record || record->forkType != 0)
                continue;
            overflowIndex.emplace(std::pair{record->fileId, record->startBlock},
                                  std::vector<Extent>(record->extents.begin(), record->extents.end()));
        }
    }
    stopRequested.store(false);
    return true;
}

bool HFSP::readCatalogNodes(JobContext& job)
{
    absolutePositions = false;
    catalogExtents_ = forkExtents(kCatalogFileId, header.catalogFile);
    std::vector<std::uint8_t> first(512);
    readFork(catalogExtents_, 0, first);
    auto h = BTreeHeader::parse(first);
    if (!h)
        return false;
    catalogNodeSize = h->nodeSize;
    firstLeafNode_ = h->firstLeafNode;
    return readNodes(catalogExtents_, catalogNodeSize, catalogNodes, true, job);
}

bool HFSP::scanCatalogNodes(JobContext& job)
{
    catalogNodes.clear();
    absolutePositions = true;
    catalogExtents_ = forkExtents(kCatalogFileId, header.catalogFile);
    std::vector<std::uint8_t> first(512);
    readFork(catalogExtents_, 0, first);
    auto h = BTreeHeader::parse(first);
    catalogNodeSize = h ? h->nodeSize : 0;
    // The search keeps to the listed size: the part MiB the volume may
    // reach beyond it can as well be the next volume's start, whose nodes
    // are not this volume's.
    const std::uint64_t searched = withinDisk(*reader, volumeBytesFromSizeText(volumeSizeText));
    std::uint64_t volumeBlocks = blockSize ? searched / blockSize : 0;
    if (volumeBlocks == 0 || catalogNodeSize == 0) {
        job.reporter().setStatusText("BlockSize not valid .Aborting..");
        return false;
    }
    // Nodes start where their file's blocks do, and a block may hold several.
    const std::uint64_t step = std::min<std::uint64_t>(blockSize, catalogNodeSize);
    const std::uint64_t end = volumeBlocks * blockSize;
    job.reporter().setProgressRange(0, progressValue(volumeBlocks));
    std::vector<std::uint8_t> window;
    for (std::uint64_t base = 0; base + catalogNodeSize <= end; base += kDeepWindow) {
        window.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kDeepWindow + catalogNodeSize, end - base)));
        readVolumeBytes(*reader, base, window);
        if (job.stopSeen(stopRequested))
            break;
        job.reporter().setProgressPos(progressValue(base / blockSize));
        for (std::uint64_t at = 0; at < kDeepWindow && at + catalogNodeSize <= window.size(); at += step) {
            auto node = std::span<const std::uint8_t>(window).subspan(at, catalogNodeSize);
            NodeDescriptor d = NodeDescriptor::parse(node);
            std::uint16_t record0 = static_cast<std::uint16_t>((node[catalogNodeSize - 2] << 8) | node[catalogNodeSize - 1]);
            if (d.kind != kLeafNode || d.height == 0 || d.numRecords == 0 || d.numRecords > 999)
                continue;
            // Record 0 starts right after the descriptor, unless it was
            // deleted where it lay: then the first record the table names
            // comes later, and a deleted one still starts at 14.
            if (record0 != 14) {
                auto loose = record0 > 14 ? looseCatalogRecords(node, 1) : std::vector<LooseRecord>{};
                if (loose.empty() || loose.front().offset != 14)
                    continue;
            }
            if (catalogNodes.size() >= kMaxNodes)
                break;
            catalogNodes.push_back(
                {base + at, d.kind, d.height, d.numRecords, recordOffsets(node, d.numRecords), d.fLink});
        }
    }
    stopRequested.store(false);
    return true;
}

bool HFSP::readNode(const NodeInfo& node, std::span<std::uint8_t> out)
{
    if (absolutePositions)
        return readVolumeBytes(*reader, node.node, out);
    return readFork(catalogExtents_, node.node * catalogNodeSize, out);
}

std::vector<bool> HFSP::linkedLeaves() const
{
    std::vector<bool> linked(catalogNodes.size(), !absolutePositions ? false : true);
    // Deep mode finds nodes by where they lie, with no tree to follow: all
    // of them count.
    if (absolutePositions)
        return linked;
    std::map<std::uint64_t, std::size_t> byNumber;
    for (std::size_t i = 0; i < catalogNodes.size(); ++i)
        if (catalogNodes[i].kind == kLeafNode)
            byNumber.emplace(catalogNodes[i].node, i);
    // The leaves in order, first to last. A chain that leads anywhere but to
    // a leaf is damaged: then no node can be told unlinked, and all count.
    std::size_t steps = 0;
    for (std::uint64_t n = firstLeafNode_; n != 0 && steps <= catalogNodes.size(); ++steps) {
        auto it = byNumber.find(n);
        if (it == byNumber.end() || linked[it->second])
            return std::vector<bool>(catalogNodes.size(), true);
        linked[it->second] = true;
        n = catalogNodes[it->second].fLink;
    }
    if (steps == 0)
        return std::vector<bool>(catalogNodes.size(), true);
    return linked;
}

void HFSP::readCatalogRecords(JobContext& job)
{
    entryMap.clear();
    job.reporter().setProgressRange(0, progressValue(catalogNodes.size()));
    const std::vector<bool> linked = linkedLeaves();
    std::vector<std::uint8_t> node(catalogNodeSize);
    auto entryOf = [](const CatalogRecord& record, std::uint64_t position, std::size_t offset) {
        HfsEntry e;
        e.type = record.type;
        e.parentId = record.parentId;
        e.nodeId = record.id;
        e.name = record.name;
        e.recordNode = position;
        e.recordOffset = static_cast<std::uint32_t>(offset);
        e.createDate = record.createDate;
        e.contentModDate = record.contentModDate;
        e.attributeModDate = record.attributeModDate;
        e.accessDate = record.accessDate;
        e.fileMode = record.fileMode;
        e.ownerId = record.ownerId;
        e.groupId = record.groupId;
        if (record.type == 2) {
            e.size = record.dataFork.logicalSize;
            e.totalBlocks = record.dataFork.totalBlocks;
            for (const Extent& x : record.dataFork.extents)
                if (x.startBlock != 0 && x.blockCount != 0)
                    e.extents.push_back(x);
        }
        return e;
    };
    // Records of deleted files and folders, kept until every live record is
    // in: a file counts as deleted only when the live catalog lacks its ID.
    std::vector<HfsEntry> leftovers;
    for (std::size_t i = 0; i < catalogNodes.size(); ++i) {
        const NodeInfo& n = catalogNodes[i];
        if (n.kind != kLeafNode)
            continue;
        if (job.stopSeen(stopRequested))
            break;
        job.reporter().setProgressPos(static_cast<std::int32_t>(i));
        readNode(n, node);
        std::uint64_t position = absolutePositions ? n.node : n.node * catalogNodeSize;
        std::size_t decoded = 0;
        for (std::uint16_t offset : n.offsets) {
            decoded += holdsCatalogRecord(node, offset) ? 1 : 0;
            auto record = CatalogRecord::parse(node, offset);
            if (!record)
                continue;
            if (!linked[i]) {
                if (leftovers.size() < kMaxLeftovers)
                    leftovers.push_back(entryOf(*record, position, offset));
                continue;
            }
            if (entryMap.count(record->id))
                continue;
            entryMap.emplace(record->id, entryOf(*record, position, offset));
        }
        // A record the offset table names that is none is damaged: the
        // search below may find it only as a leftover, listed as deleted.
        if (decoded < n.numRecords && linked[i])
            problems.add("Catalog node " + std::to_string(n.node) + ": " + std::to_string(n.numRecords - decoded) +
                         " of its " + std::to_string(n.numRecords) +
                         " records could not be decoded (their offsets or keys are damaged); what a search of "
                         "the node finds of them is listed as deleted, under ORPHAN_ENTRY when its folder is lost.");
        for (LooseRecord& loose : looseCatalogRecords(node, kMaxLooseInNode))
            if (leftovers.size() < kMaxLeftovers)
                leftovers.push_back(entryOf(loose.record, position, loose.offset));
    }
    for (HfsEntry& e : leftovers) {
        e.deleted = true;
        entryMap.emplace(e.nodeId, std::move(e)); // the first copy of an ID met wins
    }
    stopRequested.store(false);
}

void HFSP::linkEntries(JobContext& job)
{
    job.reporter().setStatusText("Maintaining Parent Child....");
    job.reporter().setProgressRange(0, progressValue(entryMap.size()));
    if (absolutePositions && !entryMap.empty()) {
        // Deep mode: the folders side by side under ORPHAN_ENTRY, each file
        // under the folder with the nearest lower node ID.
        if (entryMap.rbegin()->first > 1)
            addOrphanFolder();
        else
            orphanKey = entryMap.rbegin()->first + 1;
        HfsEntry* orphans = entryMap.count(orphanKey) ? &entryMap.at(orphanKey) : nullptr;
        HfsEntry* current = orphans;
        for (auto& [key, e] : entryMap) {
            if (key == orphanKey)
                continue;
            if (e.isFolder()) {
                if (!orphans)
                    continue;
                e.parentId = static_cast<std::uint32_t>(orphanKey);
                e.nextSibling = orphans->firstChild;
                orphans->firstChild = key;
                current = &e;
            } else if (current && !e.isSymlink()) {
                e.nextSibling = current->firstChild;
                current->firstChild = key;
            }
        }
        stopRequested.store(false);
        return;
    }
    adoptOrphans();
    // Standard mode. The first child starts the list, the second goes in
    // front of it, every later one at the end.
    std::map<std::int64_t, std::pair<std::size_t, std::int64_t>> lists; // parent → (children, last)
    std::int32_t k = 0;
    char text[96];
    const auto count = progressValue(entryMap.size());
    for (auto& [key, e] : entryMap) {
        if (job.stopSeen(stopRequested))
            break;
        if (k % 1024 == 0) {
            std::snprintf(text, sizeof text, "Maintaining Parent Child for record %d of %d....", k, count);
            job.reporter().setStatusText(text);
        }
        job.reporter().setProgressPos(++k);
        auto parentKey = static_cast<std::int64_t>(e.parentId);
        // Symbolic links are file records with a link's mode: no contents to recover.
        if (static_cast<std::int32_t>(e.parentId) <= 0 || parentKey == key || e.isSymlink())
            continue;
        auto parent = entryMap.find(parentKey);
        if (parent == entryMap.end() || !parent->second.isFolder() || parent->second.parentId == e.nodeId)
            continue;
        auto& [children, last] = lists[parentKey];
        HfsEntry& p = parent->second;
        if (children == 0) {
            p.firstChild = key;
            last = key;
        } else if (children == 1) {
            e.nextSibling = p.firstChild;
            p.firstChild = key;
        } else {
            entryMap.at(last).nextSibling = key;
            last = key;
        }
        ++children;
    }
    stopRequested.store(false);
}

bool HFSP::runScan(JobContext& job)
{
    problems.clear();
    attachVolume();
    if (!readVolumeHeader()) {
        job.reporter().setStatusText("Scanning process Aborted....");
        return false;
    }
    // The catalog's own overflow extents are needed to read the catalog.
    if (!readExtentsOverflow(job) || !(deepMode ? scanCatalogNodes(job) : readCatalogNodes(job))) {
        job.reporter().setStatusText("Scanning process Aborted....");
        return false;
    }
    readCatalogRecords(job);
    linkEntries(job);
    char text[64];
    long long i = 0;
    for (const auto& [key, e] : entryMap) {
        if (e.parentId == kRootFolderId) {
            std::snprintf(text, sizeof text, e.isFolder() ? "found folder at Node %lld" : "found file at Node %lld", i);
            job.reporter().setStatusText(text);
        }
        ++i;
    }
    job.reporter().setStatusText("Scanning process Done.");
    return true;
}

const HfsEntry* HFSP::entry(std::int64_t key) const
{
    auto it = entryMap.find(key);
    return it == entryMap.end() ? nullptr : &it->second;
}

std::vector<std::int64_t> HFSP::topLevelEntries() const
{
    std::vector<std::int64_t> top;
    for (const auto& [key, e] : entryMap)
        if (e.parentId == kRootFolderId && !e.isSymlink())
            top.push_back(key);
    return top;
}

EntryDetails HFSP::describeEntry(std::int64_t key) const
{
    EntryDetails d;
    const HfsEntry* e = entry(key);
    if (!e)
        return d;
    d.size = e->size;
    d.creation = hfsTime(e->createDate);
    d.access = hfsTime(e->accessDate);
    d.modification = hfsTime(e->contentModDate);
    d.creationText = timeText(d.creation);
    d.accessText = timeText(d.access);
    d.modificationText = timeText(d.modification);
    d.sizeText = formatSizeText(static_cast<std::int64_t>(e->size));
    d.attributeText = hfsModeText(e->fileMode);
    d.change = hfsTime(e->attributeModDate);
    if (e->fileMode != 0) {
        d.mode = e->fileMode;
        d.uid = e->ownerId;
        d.gid = e->groupId;
    }
    return d;
}

bool HFSP::saveEntryContents(std::int64_t key, DataSink& out)
{
    const HfsEntry* e = entry(key);
    if (!e)
        return false;
    if (e->isFolder() || e->size == 0)
        return true;
    std::vector<Extent> extents = entryExtents(*e);
    std::uint64_t remaining = e->size;
    bool complete = true;
    std::vector<std::uint8_t> piece;
    const std::uint64_t limit = volumeBlocks();
    for (const Extent& x : extents) {
        if (remaining == 0)
            break;
        // An extent that leaves the volume names no data of this file.
        if (x.startBlock == 0 || x.startBlock >= limit)
            break;
        std::uint64_t blocks = std::min<std::uint64_t>(x.blockCount, limit - x.startBlock);
        if (blocks < x.blockCount)
            complete = false;
        std::uint64_t length = std::min<std::uint64_t>(blocks * blockSize, remaining);
        for (std::uint64_t at = 0; at < length;) {
            std::uint64_t n = std::min(kCopyPiece, length - at);
            piece.resize(static_cast<std::size_t>(n));
            complete = readVolumeBytes(*reader, std::uint64_t{x.startBlock} * blockSize + at, piece) && complete;
            if (e->deleted) {
                // Pieces are whole blocks but for the last.
                const std::uint64_t first = x.startBlock + at / blockSize;
                for (std::uint64_t b = 0; b * blockSize < n; ++b)
                    if (anyBlockInUse(first + b, 1)) {
                        const std::uint64_t from = b * blockSize;
                        std::fill_n(piece.begin() + static_cast<std::ptrdiff_t>(from),
                                    static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, n - from)), 0);
                        complete = false;
                    }
            }
            if (!out.write(piece))
                return false;
            at += n;
        }
        remaining -= length;
    }
    // Extents that could not be found leave the file shorter than its size.
    return complete && remaining == 0;
}

std::vector<Extent> HFSP::entryExtents(const HfsEntry& e) const
{
    ForkData fork;
    fork.totalBlocks = e.totalBlocks;
    for (std::size_t i = 0; i < e.extents.size() && i < fork.extents.size(); ++i)
        fork.extents[i] = e.extents[i];
    // A deleted file's overflow records went with it: only a live file's
    // are looked up, lest another file's be taken for its own.
    if (e.deleted) {
        std::vector<Extent> own;
        for (const Extent& x : fork.extents)
            if (x.blockCount != 0)
                own.push_back(x);
        return own;
    }
    return forkExtents(e.nodeId, fork);
}

void HFSP::addOrphanFolder()
{
    orphanKey = entryMap.rbegin()->first + 1;
    HfsEntry orphan;
    orphan.type = 1;
    orphan.nodeId = static_cast<std::uint32_t>(orphanKey);
    orphan.parentId = kRootFolderId;
    orphan.name = u"ORPHAN_ENTRY";
    entryMap.emplace(orphanKey, std::move(orphan));
}

void HFSP::adoptOrphans()
{
    std::vector<std::int64_t> lost;
    for (const auto& [key, e] : entryMap) {
        if (!e.deleted)
            continue;
        auto parent = entryMap.find(static_cast<std::int64_t>(e.parentId));
        if (parent == entryMap.end() || !parent->second.isFolder())
            lost.push_back(key);
    }
    // A folder that is its own ancestor through damaged parent IDs: the
    // loop is cut there, and it goes where lost entries go.
    std::vector<std::int64_t> keys;
    keys.reserve(entryMap.size());
    for (const auto& [key, e] : entryMap)
        keys.push_back(key);
    auto parentOf = [&](std::size_t i) {
        const auto parentKey = static_cast<std::int64_t>(entryMap.at(keys[i]).parentId);
        auto at = std::lower_bound(keys.begin(), keys.end(), parentKey);
        if (parentKey == keys[i] || at == keys.end() || *at != parentKey || !entryMap.at(parentKey).isFolder())
            return keys.size();
        return static_cast<std::size_t>(at - keys.begin());
    };
    for (std::size_t i : parentLoops(keys.size(), parentOf)) {
        lost.push_back(keys[i]);
        problems.add("Folder " + utf16ToUtf8(entryMap.at(keys[i]).name) + " (catalog node ID " +
                     std::to_string(keys[i]) +
                     ") is its own ancestor through damaged parent IDs: it is listed under ORPHAN_ENTRY.");
    }
    if (lost.empty() || entryMap.empty())
        return;
    addOrphanFolder();
    for (std::int64_t key : lost)
        entryMap.at(key).parentId = static_cast<std::uint32_t>(orphanKey);
}

AllocationBitmap& HFSP::allocationBitmap()
{
    if (!allocationRead_) {
        allocationRead_ = true;
        allocationExtents_ = forkExtents(kAllocationFileId, header.allocationFile);
        const std::uint64_t bitmapBytes = std::min(
            header.allocationFile.logicalSize, checkedMul(blocksIn(allocationExtents_), blockSize).value_or(UINT64_MAX));
        // The most significant bit of each byte is the lowest block.
        allocation_ = AllocationBitmap(bitmapBytes, AllocationBitmap::BitOrder::HighBitFirst,
                                       [this](std::uint64_t at, std::span<std::uint8_t> out) {
                                           readFork(allocationExtents_, at, out);
                                       });
    }
    return allocation_;
}

bool HFSP::anyBlockInUse(std::uint64_t block, std::uint64_t count)
{
    // Blocks past the volume are no file's to have (those past the
    // allocation file the bitmap refuses itself).
    const std::uint64_t blocks = volumeBlocks();
    if (block >= blocks || count > blocks - block)
        return true;
    return allocationBitmap().anyInUse(block, count);
}

std::optional<std::vector<ByteRun>> HFSP::unallocatedSpace()
{
    if (blockSize == 0 || header.allocationFile.logicalSize == 0)
        return std::nullopt;
    FreeSpaceRuns runs(volumeSize);
    allocationBitmap().forEachFreeRun(volumeBlocks(), [&](std::uint64_t first, std::uint64_t count) {
        runs.addUnits(0, first, count, blockSize);
    });
    return runs.take();
}

Recoverability HFSP::recoverability(std::int64_t key)
{
    const HfsEntry* e = entry(key);
    if (!e || !e->deleted)
        return Recoverability::Live;
    if (e->isFolder() || e->size == 0)
        return Recoverability::Whole;
    // The blocks its size needs, through its own extents; no file needs
    // more than the volume has.
    std::uint64_t needed = e->size / blockSize + (e->size % blockSize != 0);
    if (needed > volumeBlocks())
        return Recoverability::PartlyOverwritten;
    for (const Extent& x : entryExtents(*e)) {
        if (needed == 0)
            break;
        const std::uint64_t n = std::min<std::uint64_t>(x.blockCount, needed);
        if (anyBlockInUse(x.startBlock, n))
            return Recoverability::PartlyOverwritten;
        needed -= n;
    }
    return needed == 0 ? Recoverability::Whole : Recoverability::PartlyOverwritten;
}

} // namespace qis

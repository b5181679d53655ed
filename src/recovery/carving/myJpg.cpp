#include "recovery/carving/myJpg.h"

#include "images/VolumeBytes.h"
#include "recovery/carving/Bifragment.h"
#include "recovery/carving/CandidateLayouts.h"
#include "recovery/carving/CarveValidation.h"
#include "recovery/carving/ScanRanges.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

namespace qis {
namespace {

constexpr std::uint64_t kSector = 512;
// Bytes read past each window, so an end signature that starts in the
// window's last sector is seen whole.
constexpr std::size_t kLookahead = 4096;
constexpr std::uint64_t kMarkSpacing = 4ull << 20;

std::uint64_t roundUpToSector(std::uint64_t n) { return (n + kSector - 1) / kSector * kSector; }

} // namespace

bool myJpg::addSignature(const SignatureRecord& r)
{
    if (signatureTypes.size() >= kMaxTypes)
        return false;
    SignatureType t;
    t.startLength = std::min<std::uint8_t>(r.startLength, SignatureRecord::kMaxSignatureBytes);
    t.endLength = std::min<std::uint8_t>(r.endLength, SignatureRecord::kMaxSignatureBytes);
    t.extension = r.extension;
    t.sizeOffset = r.offsetToSize > 0 ? r.offsetToSize : -1;
    t.sizeByteCount = r.bytesInSize;
    t.headerSize = r.headerSize;
    t.sizeIncludesHeader = r.sizeIncludesHeader != 0;
    t.approxSize = r.approxSize > 0 ? static_cast<std::uint64_t>(r.approxSize) : 0;
    t.skipSize = r.skipSize > 0 ? static_cast<std::uint64_t>(r.skipSize) : 0;
    t.category = r.category;
    SignatureEntry e;
    e.typeId = static_cast<std::uint8_t>(signatureTypes.size());
    e.start = r.startSignature;
    e.startLength = t.startLength;
    e.end = r.endSignature;
    e.endLength = t.endLength;
    e.startOffset = r.startOffset;
    e.extension = r.extension;
    signatureTypes.push_back(std::move(t));
    signatureEntries.push_back(std::move(e));
    return true;
}

bool myJpg::prepareMatcher()
{
    matchTable.clear();
    matchTable.reserve(signatureEntries.size() * 2);
    for (const SignatureEntry& e : signatureEntries)
        matchTable.push_back({e.startLength, e.typeId, e.startOffset, e.start});
    for (const SignatureEntry& e : signatureEntries)
        matchTable.push_back({e.endLength, e.typeId, 0, e.end});
    slotsByKey.clear();
    slotsAlwaysTried.clear();
    for (std::size_t i = 0; i < matchTable.size(); ++i) {
        const MatchSlot& slot = matchTable[i];
        if (slot.length < 2) // one byte is no signature
            continue;
        std::size_t k = 0;
        while (k < slot.length && slot.bytes[k] == 0x2A)
            ++k;
        if (k == slot.length) {
            slotsAlwaysTried.push_back(static_cast<std::uint16_t>(i));
            continue;
        }
        const std::size_t at = slot.offset + k;
        auto key = std::find_if(slotsByKey.begin(), slotsByKey.end(), [&](const KeyedSlots& s) { return s.at == at; });
        if (key == slotsByKey.end()) {
            slotsByKey.emplace_back();
            key = slotsByKey.end() - 1;
            key->at = static_cast<std::uint16_t>(at);
        }
        key->byByte[slot.bytes[k]].push_back(static_cast<std::uint16_t>(i));
    }
    std::size_t stacks = 1;
    for (const SignatureEntry& e : signatureEntries)
        if (e.typeId < kMaxTypes)
            stacks = std::max<std::size_t>(stacks, e.typeId + 1u);
    pendingStarts.assign(stacks, {});
    return true;
}

myJpg::Match myJpg::matchSector(std::span<const std::uint8_t> sector) const
{
    const std::size_t starts = matchTable.size() / 2;
    auto matches = [&](const MatchSlot& slot) {
        // A signature must lie in the sector.
        if (std::size_t{slot.offset} + slot.length > sector.size())
            return false;
        for (std::size_t k = 0; k < slot.length; ++k)
            if (slot.bytes[k] != 0x2A && slot.bytes[k] != sector[slot.offset + k])
                return false;
        return true;
    };
    // The first slot in table order that matches: each list is in that
    // order, so it is tried up to its first match or the best so far.
    std::size_t best = SIZE_MAX;
    auto tryList = [&](const std::vector<std::uint16_t>& slots) {
        for (const std::uint16_t i : slots) {
            if (i >= best)
                return;
            if (matches(matchTable[i])) {
                best = i;
                return;
            }
        }
    };
    for (const KeyedSlots& key : slotsByKey)
        if (key.at < sector.size())
            tryList(key.byByte[sector[key.at]]);
    tryList(slotsAlwaysTried);
    if (best == SIZE_MAX)
        return {};
    return {best < starts ? 'S' : 'E', matchTable[best].typeId};
}

std::size_t myJpg::findEnd(std::uint8_t type, std::span<const std::uint8_t> bytes, std::size_t from,
                           std::size_t to) const
{
    const SignatureEntry& e = signatureEntries[type];
    const std::size_t n = e.endLength;
    if (n < 2)
        return std::string::npos;
    const bool anyFirst = e.end[0] == 0x2A;
    for (std::size_t at = from; at < to && at + n <= bytes.size(); ++at) {
        if (!anyFirst) {
            const std::uint8_t* p = static_cast<const std::uint8_t*>(
                std::memchr(bytes.data() + at, e.end[0], std::min(to, bytes.size() - n + 1) - at));
            if (p == nullptr)
                return std::string::npos;
            at = static_cast<std::size_t>(p - bytes.data());
        }
        bool same = true;
        for (std::size_t k = 1; k < n && same; ++k)
            same = e.end[k] == 0x2A || e.end[k] == bytes[at + k];
        if (same)
            return at;
    }
    return std::string::npos;
}

std::u16string myJpg::fileName(std::size_t index) const
{
    const CarvedFile& f = carvedFiles[index];
    std::string digits = std::to_string(f.start);
    std::u16string name(digits.begin(), digits.end());
    name += u" .";
    name += f.extension.empty() ? signatureTypes[f.typeId].extension : f.extension;
    return name;
}

const std::u16string& myJpg::categoryOf(std::size_t index) const
{
    return signatureTypes[carvedFiles[index].typeId].category;
}

void myJpg::addFile(std::uint64_t start, std::int64_t length, std::uint8_t type, bool validated, CarveTree* tree,
                    std::u16string extension)
{
    SignatureType& t = signatureTypes[type];
    std::uint64_t count = ++categoryCounts[t.category];
    carvedFiles.push_back({start, length, type, validated, std::move(extension), {}});
    if (tree && t.categoryItem) {
        std::string shown = " (" + std::to_string(count) + ")";
        tree->setText(*t.categoryItem, t.category + std::u16string(shown.begin(), shown.end()));
        tree->addFile(*t.categoryItem, fileName(carvedFiles.size() - 1), carvedFiles.size() - 1);
    }
}

bool myJpg::carveVolume(JobContext& job, CarveTree* tree)
{
    if (!prepareMatcher()) {
        job.reporter().showMessage("not properly initialized");
        return false;
    }
    carvedFiles.clear();
    brokenStarts = 0;
    handedOverAt = 0;
    pendingChanged_ = true;
    categoryCounts.clear();
    // Looking for second fragments may read a few percent more than the scan.
    fragmentBudget_ = std::max<std::uint64_t>(64ull << 20, scanSize / 32);
    // A volume listed larger than the disk (a damaged partition entry, or a
    // size typed in) is scanned as far as the disk goes.
    scanSize = withinDisk(*reader, scanSize);
    std::map<std::u16string, std::uint64_t> itemOfCategory;
    if (tree) {
        root_ = tree->addFolder(std::nullopt, u"RAW RECOVERY ");
    }
    for (SignatureType& t : signatureTypes) {
        categoryCounts[t.category] = 0;
        t.categoryItem.reset();
        if (!tree)
            continue;
        auto known = itemOfCategory.find(t.category);
        if (known == itemOfCategory.end())
            known = itemOfCategory.emplace(t.category, tree->addFolder(root_, t.category)).first;
        t.categoryItem = known->second;
    }
    if (tree)
        tree->expand(*root_);

    job.reporter().setProgressRange(0, 1000);
    // A last window of less than 1 MiB is scanned too.
    const std::uint64_t windows = (scanSize + kWindowBytes - 1) / kWindowBytes;
    job.reporter().setProgressRange(0, progressValue(windows));

    const carve::ScannedVolume scannedVolume = carve::readScannedVolume(*reader);
    // The tree shows files as they are found, in the order of the disk: a
    // scan shown in it runs on one thread.
    if (tree == nullptr && threadsFrom != 0 && scanSize >= threadsFrom && std::thread::hardware_concurrency() > 1)
        scanInParts(job, scannedVolume);
    else
        scanFrom(0, tree, scannedVolume, &job, {});
    addLeftOverStarts(tree);
    job.reporter().setProgressPos(progressValue(windows));
    job.reporter().showMessage("done..");
    return true;
}

bool myJpg::scanFrom(std::uint64_t from, CarveTree* tree, const carve::ScannedVolume& scannedVolume, JobContext* job,
                     const std::function<bool(std::uint64_t)>& atJump)
{
    // Not cleared: each read fills what the scan then looks at.
    const auto windowBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(kWindowBytes + kLookahead);
    const std::span<std::uint8_t> window(windowBuffer.get(), kWindowBytes + kLookahead);
    ScanRanges ranges(*reader, scanSize, scanRuns);
    std::optional<ScanRanges::Stretch> stretch; // the stretch being scanned
    // The window in the buffer: sectors from windowStart up to windowEnd
    // are scanned, and the bytes after them up to kLookahead are there too.
    std::uint64_t windowStart = 0, windowEnd = 0;
    std::size_t windowLength = 0;
    std::uint64_t pos = from;
    // Where the scan would be after one more sector: anywhere else it
    // jumped. Scans that step through the same bytes meet at the places a
    // whole number of kMarkSpacing bytes in, too.
    std::uint64_t stepped = UINT64_MAX;
    bool stopped = false, handedOver = false;
    while (pos < scanSize && !stopped) {
        if (!stretch || pos >= stretch->end) {
            // Zeros the container never stored end some pending files (an
            // end signature of zeros) where a scan through them would.
            if (stretch && pos == stretch->end)
                if (std::uint64_t hole = ranges.holeAt(pos))
                    pos = endInZeros(pos, hole, tree);
            stretch = ranges.next(pos);
            if (!stretch)
                break;
            pos = std::max(pos, stretch->start);
        }
        if (atJump && (pos != stepped || pos % kMarkSpacing == 0) && atJump(pos)) {
            handedOver = true;
            break;
        }
        stepped = pos + kSector;
        if (pos >= windowEnd) {
            if (job != nullptr)
                job->reporter().setProgressPos(progressValue(pos / kWindowBytes));
            if (job != nullptr ? job->stopSeen(rawStopRequested) : stopFlag_->load()) {
                stopped = true;
                break;
            }
            windowStart = pos;
            windowEnd = std::min(pos + kWindowBytes, stretch->end);
            windowLength = static_cast<std::size_t>(std::min(windowEnd + kLookahead, scanSize) - pos);
            ranges.read(windowStart, window.first(windowLength));
        }
        const std::size_t s = static_cast<std::size_t>(pos - windowStart);
        const std::span<const std::uint8_t> bytes = window.first(windowLength);
        const auto sector = bytes.subspan(s, std::min<std::size_t>(kSector, bytes.size() - s));
        Match m = matchSector(sector);
        if (stopFlag_->load()) {
            stopped = true;
            break;
        }
        if (m.kind == 'S') {
            const std::uint8_t type = m.typeId;
            SignatureType& t = signatureTypes[type];
            if (validateLengths) {
                // The file's own structure tells its length (within the
                // type's approximate size, when it has one).
                std::uint64_t limit = scanSize - pos;
                if (t.approxSize > 0)
                    limit = std::min(limit, t.approxSize);
                auto keep = [&](carve::Validated v, bool validated, const carve::FileLayout& layout,
                                std::uint64_t gap) {
                    // A file whose contents name another loaded type (a ZIP
                    // that is a spreadsheet) is counted as that type.
                    std::uint8_t shown = type;
                    if (!v.extension.empty())
                        for (std::size_t k = 0; k < signatureTypes.size(); ++k)
                            if (signatureTypes[k].extension == v.extension) {
                                shown = static_cast<std::uint8_t>(k);
                                v.extension.clear();
                                break;
                            }
                    addFile(pos, static_cast<std::int64_t>(v.length), shown, validated, tree, std::move(v.extension));
                    carve::FileLayout pieces = carve::layoutPrefix(layout, v.length);
                    const std::uint64_t end = carve::endOfFirstStretch(pieces, gap);
                    if (pieces.size() > 1)
                        carvedFiles.back().pieces = std::move(pieces);
                    pos = std::max(pos + kSector, roundUpToSector(end));
                };
                bool kept = false;
                // Data interrupted by the file system's own blocks is read
                // around them, when the bytes show such a layout.
                // The window holds the file's first bytes: validators take
                // them from there.
                const auto head = bytes.subspan(s);
                for (const carve::CandidateLayout& c :
                     carve::candidateLayouts(*reader, pos, limit, scanSize, scannedVolume)) {
                    const bool fromHere = !c.layout.empty() && c.layout.front().offset == pos;
                    if (auto v = carve::validateFile(t.extension, *reader, c.layout,
                                                     fromHere ? head : std::span<const std::uint8_t>{})) {
                        keep(std::move(*v), true, c.layout, c.metadataGap);
                        kept = true;
                    } else if (c.unmistakable && !carve::hasValidator(t.extension)) {
                        keep({c.covered, {}}, false, c.layout, c.metadataGap);
                        kept = true;
                    }
                    if (kept)
                        break;
                }
                if (kept)
                    continue;
                auto v = carve::validateFile(t.extension, *reader, {{pos, limit}}, head);
                // A file written around another one is found in two pieces;
                // the gap between them may hold other files.
                if (auto f = secondFragment(t.extension, pos, limit, v, head)) {
                    keep(std::move(f->validated), true, f->layout, 0);
                    continue;
                }
                if (v) {
                    const std::uint64_t length = v->length;
                    keep(std::move(*v), true, {{pos, length}}, 0);
                    continue;
                }
                if (!keepBroken && carve::hasValidator(t.extension)) {
                    ++brokenStarts;
                    pos += kSector;
                    continue;
                }
            }
            if (t.endLength >= 2 && type < pendingStarts.size()) {
                pendingStarts[type].push_back(pos);
                pendingChanged_ = true;
                // A file shorter than a sector ends in the sector it starts in.
                const SignatureEntry& e = signatureEntries[type];
                std::size_t end = findEnd(type, bytes, s + e.startOffset + e.startLength, s + kSector);
                if (end != std::string::npos) {
                    pendingStarts[type].pop_back();
                    pendingChanged_ = true;
                    std::int64_t length = static_cast<std::int64_t>(end + e.endLength - s);
                    addFile(pos, length, type, false, tree);
                }
                pos += kSector;
                continue;
            }
            if (t.sizeByteCount <= 0 || t.sizeOffset < 0 || t.sizeOffset + 4 > static_cast<std::int32_t>(kSector)) {
                // No size field to go by: the approximate size it is.
                if (t.approxSize > 0)
                    addFile(pos, static_cast<std::int64_t>(std::min(t.approxSize, scanSize - pos)), type, false, tree);
                pos += t.skipSize > kSector ? t.skipSize / kSector * kSector : kSector;
                continue;
            }
            std::uint8_t first[kSector] = {};
            std::copy(sector.begin(), sector.end(), first);
            const std::uint8_t* f = first + t.sizeOffset;
            std::int64_t size = static_cast<std::int32_t>(std::uint32_t{f[0]} | (std::uint32_t{f[1]} << 8) |
                                                          (std::uint32_t{f[2]} << 16) | (std::uint32_t{f[3]} << 24));
            if (size > static_cast<std::int64_t>(t.approxSize))
                size = 0;
            if (t.sizeByteCount != 4 || size <= 0) {
                pos += kSector;
                continue;
            }
            // The size field gives the length: with the header when the
            // field leaves it out.
            std::uint64_t length = static_cast<std::uint64_t>(size) + (t.sizeIncludesHeader ? 0 : static_cast<std::uint64_t>(std::max(0, t.headerSize)));
            length = std::min(length, scanSize - pos);
            addFile(pos, static_cast<std::int64_t>(length), type, false, tree);
            pos += (static_cast<std::uint64_t>(size) / kSector + 1) * kSector;
            continue;
        }
        // No start here: the end of a pending file may lie anywhere in the sector.
        std::size_t best = std::string::npos;
        std::uint8_t bestType = 0;
        if (pendingChanged_) {
            pendingTypes_.clear();
            for (std::size_t type = 0; type < pendingStarts.size(); ++type)
                if (!pendingStarts[type].empty())
                    pendingTypes_.push_back(static_cast<std::uint8_t>(type));
            pendingChanged_ = false;
        }
        for (const std::uint8_t type : pendingTypes_) {
            std::size_t end = findEnd(type, bytes, s, std::min(best, s + sector.size()));
            if (end != std::string::npos && end < best) {
                best = end;
                bestType = type;
            }
        }
        if (best != std::string::npos) {
            const SignatureType& t = signatureTypes[bestType];
            const std::uint64_t start = pendingStarts[bestType].back();
            pendingStarts[bestType].pop_back();
            pendingChanged_ = true;
            std::uint64_t length = windowStart + best + t.endLength - start;
            if (t.approxSize > 0)
                length = std::min(length, t.approxSize);
            addFile(start, static_cast<std::int64_t>(length), bestType, false, tree);
        }
        pos += kSector;
    }
    scanStopped = stopped;
    scannedBytes = stopped ? std::min(pos, scanSize) : scanSize;
    return handedOver;
}

std::optional<carve::Bifragment> myJpg::secondFragment(const std::u16string& extension, std::uint64_t start,
                                                       std::uint64_t limit, const std::optional<carve::Validated>& whole,
                                                       std::span<const std::uint8_t> head)
{
    if (!carve::hasBifragmentStrategy(extension))
        return std::nullopt;
    // A JPEG passes its marker walk with foreign bytes inside its scan (its
    // Huffman decoding tells), a PDF its walk to "%%EOF" (its table tells).
    if (whole && !carve::brokenInside(extension, *reader, start, whole->length, head))
        return std::nullopt;
    return carve::findBifragment(extension, *reader, start, limit, fragmentSearch, fragmentBudget_,
                                 whole ? std::optional<std::uint64_t>(whole->length) : std::nullopt);
}

std::uint64_t myJpg::endInZeros(std::uint64_t at, std::uint64_t length, CarveTree* tree)
{
    auto endsInZeros = [&](std::size_t type) {
        const SignatureEntry& e = signatureEntries[type];
        if (e.endLength < 2 || e.endLength > length)
            return false;
        for (std::size_t k = 0; k < e.endLength; ++k)
            if (e.end[k] != 0 && e.end[k] != 0x2A)
                return false;
        return true;
    };
    std::uint64_t pos = at;
    while (pos < at + length) {
        // The first type in load order whose end is found, as in a sector of data.
        std::size_t type = 0;
        while (type < pendingStarts.size() && (pendingStarts[type].empty() || !endsInZeros(type)))
            ++type;
        if (type == pendingStarts.size())
            break;
        const SignatureType& t = signatureTypes[type];
        const std::uint64_t start = pendingStarts[type].back();
        pendingStarts[type].pop_back();
        pendingChanged_ = true;
        std::uint64_t fileLength = pos + t.endLength - start;
        if (t.approxSize > 0)
            fileLength = std::min(fileLength, t.approxSize);
        addFile(start, static_cast<std::int64_t>(fileLength), static_cast<std::uint8_t>(type), false, tree);
        pos += kSector;
    }
    return pos;
}

void myJpg::addLeftOverStarts(CarveTree* tree)
{
    // A start whose end never came: its file runs to the next file found
    // after it, at most the type's approximate size.
    std::vector<std::uint64_t> starts;
    for (const CarvedFile& f : carvedFiles)
        starts.push_back(f.start);
    for (const auto& stack : pendingStarts)
        starts.insert(starts.end(), stack.begin(), stack.end());
    std::sort(starts.begin(), starts.end());
    for (std::size_t type = 0; type < pendingStarts.size(); ++type) {
        auto& stack = pendingStarts[type];
        const SignatureType& t = signatureTypes[type];
        while (!stack.empty()) {
            const std::uint64_t start = stack.back();
            stack.pop_back();
            auto next = std::upper_bound(starts.begin(), starts.end(), start);
            std::uint64_t room = (next == starts.end() ? scanSize : *next) - start;
            std::uint64_t length = std::min(room, t.approxSize);
            if (length > 0)
                addFile(start, static_cast<std::int64_t>(length), static_cast<std::uint8_t>(type), false, tree);
        }
    }
}

} // namespace qis

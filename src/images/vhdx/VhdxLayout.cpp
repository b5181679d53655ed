#include "images/vhdx/VhdxLayout.h"

#include "images/vhdx/VhdxStructures.h"
#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <array>

namespace qis::vhdx {
namespace {

// The file's bytes as they are after the log's replay, when there is one.
std::vector<std::uint8_t> readBytes(ImageFile& file, std::uint64_t offset, std::size_t length,
                                    const VhdxOverlay* overlay = nullptr)
{
    std::vector<std::uint8_t> buffer(length, 0);
    if (overlay) {
        int error = 0;
        buffer.resize(overlay->readAt(file, offset, buffer, error));
    } else {
        buffer.resize(file.readAt(offset, buffer));
    }
    return buffer;
}

// The current header; `damaged` when neither copy is valid.
Header currentHeader(ImageFile& file, bool& damaged)
{
    Header h1 = Header::parse(readBytes(file, kHeader1Offset, kHeaderSize));
    Header h2 = Header::parse(readBytes(file, kHeader2Offset, kHeaderSize));
    bool v1 = h1.signatureOk && h1.checksumOk;
    bool v2 = h2.signatureOk && h2.checksumOk;
    damaged = !v1 && !v2;
    if (v2 && (!v1 || h2.sequenceNumber > h1.sequenceNumber))
        return h2;
    return h1;
}

// The first copy unless it is not a table or holds too few entries; among
// usable copies one whose checksum holds is preferred.
const RegionTable* chooseRegionTable(const RegionTable& t1, const RegionTable& t2)
{
    const RegionTable* usable[2] = {nullptr, nullptr};
    int n = 0;
    if (t1.signatureOk && t1.entries.size() >= 2)
        usable[n++] = &t1;
    if (t2.entries.size() >= 2)
        usable[n++] = &t2;
    for (int i = 0; i < n; ++i)
        if (usable[i]->checksumOk && usable[i]->signatureOk)
            return usable[i];
    return n > 0 ? usable[0] : nullptr;
}

std::vector<Guid> guidsOf(const std::vector<RegionEntry>& entries)
{
    std::vector<Guid> g;
    for (const auto& e : entries)
        g.push_back(e.guid);
    return g;
}

std::vector<Guid> guidsOf(const std::vector<MetadataEntry>& entries)
{
    std::vector<Guid> g;
    for (const auto& e : entries)
        g.push_back(e.itemId);
    return g;
}

bool hasFileIdentifier(ImageFile& file)
{
    std::array<std::uint8_t, 8> identifier{};
    return ByteReader(std::span(identifier).first(file.readAt(0, identifier))).matches(0, "vhdxfile");
}

// The sector-bitmap entry of each chunk, the last of its ratio + 1 entries.
// A partially present block whose chunk has none is read whole from the
// file: its own sectors are there, and which they are is lost.
void readSectorBitmaps(ImageFile& file, const VhdxLayout& layout, std::uint64_t entries, std::uint64_t chunks,
                       VhdxBlockTable& result)
{
    const VhdxOverlay* overlay = layout.log.overlay.get();
    result.sectorBitmaps.assign(static_cast<std::size_t>(chunks), 0);
    for (std::uint64_t c = 0; c < chunks; ++c) {
        const std::uint64_t index = c * (layout.chunkRatio + 1) + layout.chunkRatio;
        if (index >= entries)
            break;
        std::array<std::uint8_t, 8> raw{};
        int error = 0;
        const std::size_t got = readImageFile(file, overlay, layout.batOffset + index * 8, raw, error);
        const std::uint64_t value = ByteReader(std::span(raw).first(got)).u64le(0);
        if ((value & 7) == kSectorBitmapPresent && (value >> 20) != 0 && (value >> 20) < (1ull << 43))
            result.sectorBitmaps[static_cast<std::size_t>(c)] = (value >> 20) << 20;
    }
    for (std::size_t block = 0; block < result.partialBlocks.size(); ++block) {
        const std::uint64_t at = result.blocks[block];
        if (result.partialBlocks[block] && at != 0 && at != kUnreadableBlock &&
            result.sectorBitmaps[block / layout.chunkRatio] == 0) {
            result.partialBlocks[block] = false;
            ++result.missingBitmaps;
        }
    }
}

} // namespace

Parsed<VhdxLayout> readVhdxLayout(ImageFile& file)
{
    VhdxLayout layout;
    const Header header = currentHeader(file, layout.headersDamaged);
    layout.version = header.version;
    layout.dataWriteGuid = header.dataWriteGuid;
    // The log is found through the header alone; with both headers damaged
    // there is no telling where it is or whether it is current.
    if (!layout.headersDamaged)
        layout.log = replayVhdxLog(file, {header.logGuid, header.logVersion, header.logLength, header.logOffset});
    const VhdxOverlay* overlay = layout.log.overlay.get();

    RegionTable t1 = RegionTable::parse(readBytes(file, kRegionTable1Offset, kRegionTableSize, overlay));
    RegionTable t2 = RegionTable::parse(readBytes(file, kRegionTable2Offset, kRegionTableSize, overlay));
    // Damage needs something that says VHDX: without the file identifier and
    // both region tables' signatures this is some other file. And what does
    // not hold may only look so because reading it failed.
    const bool signedAsVhdx = t1.signatureOk || t2.signatureOk || hasFileIdentifier(file);
    auto damaged = [&file, signedAsVhdx](std::string message) {
        ParseFailure kind = ParseFailure::Damaged;
        if (file.lastError() != 0)
            kind = ParseFailure::Io;
        else if (!signedAsVhdx)
            kind = ParseFailure::NotThisFormat;
        return ParseError{kind, std::move(message)};
    };

    const RegionTable* regions = chooseRegionTable(t1, t2);
    if (!regions)
        return damaged("Region entry corrupt");

    const std::array<Guid, 2> knownRegions = {kBatRegion, kMetadataRegion};
    auto regionGuids = guidsOf(regions->entries);
    auto batIndex = findByGuid(regionGuids, kBatRegion, 0, knownRegions);
    auto metaIndex = findByGuid(regionGuids, kMetadataRegion, 1, knownRegions);
    if (!batIndex || !metaIndex || *batIndex == *metaIndex)
        return damaged("Region entry corrupt");
    const RegionEntry& bat = regions->entries[*batIndex];
    const RegionEntry& meta = regions->entries[*metaIndex];
    layout.regionTableAt = regions == &t1 ? kRegionTable1Offset : kRegionTable2Offset;
    layout.metadataAt = meta.fileOffset;
    layout.batOffset = bat.fileOffset;
    layout.batLength = bat.length;

    std::uint64_t metaLength = std::min<std::uint64_t>(meta.length, 1ull << 20);
    if (metaLength < kRegionTableSize)
        metaLength = kRegionTableSize; // a damaged length still leaves the table readable
    std::vector<std::uint8_t> metaRegion = readBytes(file, meta.fileOffset, static_cast<std::size_t>(metaLength), overlay);
    MetadataTable items = MetadataTable::parse(metaRegion);

    const std::array<Guid, 4> knownItems = {kFileParameters, kVirtualDiskSize, kLogicalSectorSize,
                                            kPhysicalSectorSize};
    auto itemGuids = guidsOf(items.entries);
    // Items live inside the metadata region; one outside it reads as missing (0).
    auto item = [&](const Guid& guid, std::size_t position, std::size_t width,
                    std::uint64_t* foundAt = nullptr) -> ByteReader {
        auto index = findByGuid(itemGuids, guid, position, knownItems);
        if (!index)
            return ByteReader({});
        std::uint64_t at = items.entries[*index].offset;
        if (at > metaRegion.size() || width > metaRegion.size() - at)
            return ByteReader({});
        if (foundAt)
            *foundAt = meta.fileOffset + at;
        return ByteReader(std::span<const std::uint8_t>(metaRegion).subspan(static_cast<std::size_t>(at), width));
    };
    {
        ByteReader r = item(kFileParameters, 0, 8, &layout.fileParametersAt);
        layout.blockSize = r.u32le(0x00);
        layout.fileParameterFlags = r.u32le(0x04);
    }
    layout.virtualDiskSize = item(kVirtualDiskSize, 1, 8, &layout.virtualDiskSizeAt).u64le(0);
    layout.logicalSectorSize = item(kLogicalSectorSize, 2, 4, &layout.logicalSectorSizeAt).u32le(0);
    layout.physicalSectorSize = item(kPhysicalSectorSize, 3, 4).u32le(0);

    if (!isPowerOfTwo(layout.blockSize) || layout.blockSize < (1u << 20) || layout.blockSize > (256u << 20))
        return damaged("The VHDX block size (" + std::to_string(layout.blockSize) + " bytes) is damaged.");
    if (layout.logicalSectorSize != 512 && layout.logicalSectorSize != 4096)
        return damaged("The VHDX logical sector size (" + std::to_string(layout.logicalSectorSize) +
                       " bytes) is damaged.");
    // Without its size the disk has no extent: taking the file's length or
    // the table's would pass off a guess as the disk.
    if (layout.virtualDiskSize == 0)
        return damaged("The VHDX virtual disk size is 0 (its metadata item is damaged or missing), so the disk's "
                       "size is unknown.");
    if (layout.hasParent()) {
        // Found by its GUID alone: a guessed slot could be any other item.
        for (const auto& e : items.entries) {
            if (e.itemId != kParentLocator || e.offset >= metaRegion.size())
                continue;
            const std::size_t length = std::min<std::size_t>(e.length, metaRegion.size() - e.offset);
            const auto bytes = std::span<const std::uint8_t>(metaRegion).subspan(e.offset, length);
            layout.parentLocator = ParentLocator::parse(bytes);
            layout.parentLocatorAt = meta.fileOffset + e.offset;
            break;
        }
    }
    layout.chunkRatio = ((1ull << 23) * layout.logicalSectorSize) / layout.blockSize;
    return layout;
}

Parsed<VhdxBlockTable> readVhdxBlockTable(ImageFile& file, const VhdxLayout& layout)
{
    const std::uint64_t ratio = layout.chunkRatio;
    const bool differencing = layout.hasParent();
    std::uint64_t entries = ceilDiv(layout.batLength, 8);
    const std::uint64_t payloadBlocks = ceilDiv(layout.virtualDiskSize, layout.blockSize);
    const std::uint64_t chunks = ceilDiv(payloadBlocks, ratio);
    // Payload entries are interleaved with one sector-bitmap entry per chunk;
    // a differencing image needs the last chunk's, after its unused entries.
    entries = std::min(entries, differencing ? chunks * (ratio + 1) : payloadBlocks + payloadBlocks / ratio + 1);
    const VhdxOverlay* overlay = layout.log.overlay.get();
    const std::uint64_t fileSize = overlay ? overlay->lengthOver(file.size()) : file.size();
    if (layout.batOffset < fileSize)
        entries = std::min(entries, (fileSize - layout.batOffset) / 8);
    else
        entries = 0;
    // More than is loaded into memory; the image may well be sound.
    if (entries * 8 > kMaxTableBytes)
        return ParseError{ParseFailure::Unsupported, "The VHDX block allocation table is too large to load."};

    VhdxBlockTable result;
    std::vector<std::uint64_t>& table = result.blocks;
    table.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(entries, payloadBlocks)));
    constexpr std::size_t kWindow = 1 << 20;
    std::vector<std::uint8_t> window;
    std::uint64_t counter = 0;
    int error = 0;
    for (std::uint64_t first = 0; first < entries && table.size() < payloadBlocks; first += kWindow / 8) {
        std::uint64_t n = std::min<std::uint64_t>(kWindow / 8, entries - first);
        window.assign(static_cast<std::size_t>(n * 8), 0);
        std::size_t got = overlay ? overlay->readAt(file, layout.batOffset + first * 8, window, error)
                                  : file.readAt(layout.batOffset + first * 8, window);
        ByteReader r(std::span<const std::uint8_t>(window).first(got));
        for (std::uint64_t i = 0; i < n && table.size() < payloadBlocks; ++i) {
            std::uint64_t raw = r.u64le(static_cast<std::size_t>(i * 8));
            if (++counter > ratio) {
                counter = 0; // the sector-bitmap entry that closes every chunk
                continue;
            }
            const std::uint64_t state = raw & 7;
            const std::uint64_t offsetMb = raw >> 20;
            if (differencing) {
                result.zeroBlocks.push_back(state == kPayloadZero);
                result.partialBlocks.push_back(state == kPayloadPartiallyPresent);
            }
            // States 0 to 3 (not present, undefined, zero, unmapped) have no
            // data in this file and read as zeros, or in a differencing image
            // as the parent has them (but for zero); 4 and 5 mean nothing for
            // a payload block, so what the block held is unknown.
            if (state == kPayloadFullyPresent || state == kPayloadPartiallyPresent) {
                if (offsetMb != 0 && offsetMb < (1ull << 43)) {
                    table.push_back(offsetMb * 2048);
                    continue;
                }
                ++result.missingOffsets;
            } else if (state == 4 || state == 5) {
                ++result.undefinedStates;
            } else {
                table.push_back(0);
                continue;
            }
            const std::uint64_t start = table.size() * std::uint64_t{layout.blockSize};
            result.unreadableBytes += std::min<std::uint64_t>(layout.blockSize, layout.virtualDiskSize - start);
            table.push_back(kUnreadableBlock);
        }
    }
    if (differencing)
        readSectorBitmaps(file, layout, entries, chunks, result);
    if (result.undefinedStates > 0)
        result.damage.push_back(std::to_string(result.undefinedStates) +
                                " VHDX block allocation table entries have a state the format does not define; "
                                "those blocks read as zeros.");
    if (result.missingBitmaps > 0)
        result.damage.push_back(std::to_string(result.missingBitmaps) +
                                " partially present VHDX blocks have no sector bitmap to tell which of their sectors "
                                "are in this file; they are read whole from it.");
    if (result.missingOffsets > 0)
        result.damage.push_back(std::to_string(result.missingOffsets) +
                                " VHDX block allocation table entries mark a block present without a usable file "
                                "offset; those blocks read as zeros.");
    return result;
}

} // namespace qis::vhdx

namespace qis::vhdx {

std::string logReplayedMessage(const LogReplay& log)
{
    if (!log.overlay)
        return {};
    return "The VHDX log held " + std::to_string(log.entries) + (log.entries == 1 ? " entry" : " entries") +
           " not yet applied (the machine stopped before it wrote " + (log.entries == 1 ? "it" : "them") +
           "); " + (log.entries == 1 ? "it was" : "they were") +
           " replayed in memory, so the disk reads as the log left it. The image file was not changed.";
}

std::string logIgnoredMessage(const LogReplay& log)
{
    if (log.ignored.empty())
        return {};
    return "The VHDX log was ignored because " + log.ignored +
           "; the disk reads as the file holds it, without the changes the log may hold.";
}

} // namespace qis::vhdx

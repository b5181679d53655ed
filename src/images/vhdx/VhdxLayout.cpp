#include "images/vhdx/VhdxLayout.h"

#include "images/vhdx/VhdxStructures.h"
#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <array>

namespace qis::vhdx {
namespace {

std::vector<std::uint8_t> readBytes(ImageFile& file, std::uint64_t offset, std::size_t length)
{
    std::vector<std::uint8_t> buffer(length, 0);
    buffer.resize(file.readAt(offset, buffer));
    return buffer;
}

std::uint16_t currentHeaderVersion(ImageFile& file)
{
    Header h1 = Header::parse(readBytes(file, kHeader1Offset, kHeaderSize));
    Header h2 = Header::parse(readBytes(file, kHeader2Offset, kHeaderSize));
    bool v1 = h1.signatureOk && h1.checksumOk;
    bool v2 = h2.signatureOk && h2.checksumOk;
    if (v2 && (!v1 || h2.sequenceNumber > h1.sequenceNumber))
        return h2.version;
    return h1.version;
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

} // namespace

Parsed<VhdxLayout> readVhdxLayout(ImageFile& file)
{
    VhdxLayout layout;
    layout.version = currentHeaderVersion(file);

    RegionTable t1 = RegionTable::parse(readBytes(file, kRegionTable1Offset, kRegionTableSize));
    RegionTable t2 = RegionTable::parse(readBytes(file, kRegionTable2Offset, kRegionTableSize));
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
    std::vector<std::uint8_t> metaRegion = readBytes(file, meta.fileOffset, static_cast<std::size_t>(metaLength));
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
    layout.chunkRatio = ((1ull << 23) * layout.logicalSectorSize) / layout.blockSize;
    return layout;
}

Parsed<std::vector<std::uint64_t>> readVhdxBlockTable(ImageFile& file, const VhdxLayout& layout)
{
    const std::uint64_t ratio = layout.chunkRatio;
    std::uint64_t entries = ceilDiv(layout.batLength, 8);
    std::uint64_t payloadBlocks = 0;
    if (layout.virtualDiskSize > 0) {
        payloadBlocks = ceilDiv(layout.virtualDiskSize, layout.blockSize);
        // Payload entries are interleaved with one sector-bitmap entry per chunk.
        entries = std::min(entries, payloadBlocks + payloadBlocks / ratio + 1);
    }
    if (layout.batOffset < file.size())
        entries = std::min(entries, (file.size() - layout.batOffset) / 8);
    else
        entries = 0;
    // More than is loaded into memory; the image may well be sound.
    if (entries * 8 > kMaxTableBytes)
        return ParseError{ParseFailure::Unsupported, "The VHDX block allocation table is too large to load."};

    std::vector<std::uint64_t> table;
    table.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(entries, payloadBlocks ? payloadBlocks : entries)));
    constexpr std::size_t kWindow = 1 << 20;
    std::vector<std::uint8_t> window;
    std::uint64_t counter = 0;
    for (std::uint64_t first = 0; first < entries; first += kWindow / 8) {
        std::uint64_t n = std::min<std::uint64_t>(kWindow / 8, entries - first);
        window.assign(static_cast<std::size_t>(n * 8), 0);
        std::size_t got = file.readAt(layout.batOffset + first * 8, window);
        ByteReader r(std::span<const std::uint8_t>(window).first(got));
        for (std::uint64_t i = 0; i < n; ++i) {
            std::uint64_t raw = r.u64le(static_cast<std::size_t>(i * 8));
            if (++counter > ratio) {
                counter = 0; // the sector-bitmap entry that closes every chunk
                continue;
            }
            std::uint64_t state = raw & 7;
            std::uint64_t offsetMb = raw >> 20;
            bool inFile = (state == kPayloadFullyPresent || state == kPayloadPartiallyPresent) && offsetMb != 0 &&
                          offsetMb < (1ull << 43);
            table.push_back(inFile ? offsetMb * 2048 : 0);
        }
    }
    if (payloadBlocks > 0 && table.size() > payloadBlocks)
        table.resize(static_cast<std::size_t>(payloadBlocks));
    return table;
}

} // namespace qis::vhdx

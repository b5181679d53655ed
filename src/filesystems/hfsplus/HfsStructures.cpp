#include "filesystems/hfsplus/HfsStructures.h"

#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>

namespace qis::hfsdisk {

ForkData ForkData::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    ForkData f;
    f.logicalSize = r.u64be(0);
    f.totalBlocks = r.u32be(12);
    for (std::size_t i = 0; i < 8; ++i)
        f.extents[i] = {r.u32be(16 + 8 * i), r.u32be(20 + 8 * i)};
    return f;
}

VolumeHeader VolumeHeader::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    VolumeHeader h;
    h.signatureOk = r.u8(0) == 'H' && (r.u8(1) == '+' || r.u8(1) == 'X');
    h.blockSize = r.u32be(0x28);
    h.totalBlocks = r.u32be(0x2C);
    if (r.has(0x70, 80))
        h.allocationFile = ForkData::parse(bytes.subspan(0x70, 80));
    if (r.has(0xC0, 80))
        h.extentsFile = ForkData::parse(bytes.subspan(0xC0, 80));
    if (r.has(0x110, 80))
        h.catalogFile = ForkData::parse(bytes.subspan(0x110, 80));
    return h;
}

NodeDescriptor NodeDescriptor::parse(std::span<const std::uint8_t> node)
{
    ByteReader r(node);
    NodeDescriptor d;
    d.fLink = r.u32be(0);
    d.bLink = r.u32be(4);
    d.kind = static_cast<std::int8_t>(r.u8(8));
    d.height = r.u8(9);
    d.numRecords = r.u16be(10);
    return d;
}

std::optional<BTreeHeader> BTreeHeader::parse(std::span<const std::uint8_t> node0)
{
    ByteReader r(node0);
    if (NodeDescriptor::parse(node0).kind != 1)
        return std::nullopt;
    BTreeHeader h;
    h.treeDepth = r.u16be(14);
    h.rootNode = r.u32be(16);
    h.leafRecords = r.u32be(20);
    h.firstLeafNode = r.u32be(24);
    h.lastLeafNode = r.u32be(28);
    h.nodeSize = r.u16be(32);
    h.totalNodes = r.u32be(36);
    h.freeNodes = r.u32be(40);
    if (!r.ok() || h.nodeSize < 512 || !isPowerOfTwo(h.nodeSize))
        return std::nullopt;
    return h;
}

std::vector<std::uint16_t> recordOffsets(std::span<const std::uint8_t> node, std::uint16_t numRecords)
{
    std::vector<std::uint16_t> offsets;
    ByteReader r(node);
    for (std::size_t k = 0; k < numRecords && 2 * (k + 1) + 14 <= node.size(); ++k) {
        std::uint16_t at = r.u16be(node.size() - 2 * (k + 1));
        if (at >= 14 && at < node.size())
            offsets.push_back(at);
    }
    return offsets;
}

std::optional<CatalogRecord> CatalogRecord::parse(std::span<const std::uint8_t> node, std::size_t offset)
{
    ByteReader r(node);
    std::uint16_t keyLength = r.u16be(offset);
    std::uint16_t nameLength = r.u16be(offset + 6);
    if (!r.ok() || nameLength == 0 || nameLength > 255 || 6u + 2u * nameLength > keyLength)
        return std::nullopt;
    CatalogRecord c;
    c.parentId = r.u32be(offset + 2);
    for (std::size_t i = 0; i < nameLength; ++i)
        c.name.push_back(static_cast<char16_t>(r.u16be(offset + 8 + 2 * i)));
    std::size_t data = offset + 2 + keyLength;
    c.type = r.u16be(data);
    if (c.type != 1 && c.type != 2)
        return std::nullopt;
    c.id = r.u32be(data + 8);
    c.createDate = r.u32be(data + 12);
    c.contentModDate = r.u32be(data + 16);
    c.attributeModDate = r.u32be(data + 20);
    c.accessDate = r.u32be(data + 24);
    c.ownerId = r.u32be(data + 32);
    c.groupId = r.u32be(data + 36);
    c.fileMode = r.u16be(data + 42);
    if (c.type == 2) {
        if (!r.has(data + 88, 80))
            return std::nullopt;
        c.dataFork = ForkData::parse(node.subspan(data + 88, 80));
    }
    if (!r.ok() || c.id == 0)
        return std::nullopt;
    return c;
}

namespace {

// Bytes a catalog folder and file record's data take.
constexpr std::size_t kFolderRecordSize = 88;
constexpr std::size_t kFileRecordSize = 248;

// The length of the folder or file record at `at` (key and data) when it
// has exactly the shape the catalog gives one, else 0.
std::size_t catalogRecordLength(std::span<const std::uint8_t> bytes, std::size_t at)
{
    ByteReader r(bytes);
    const std::uint16_t keyLength = r.u16be(at);
    const std::uint16_t nameLength = r.u16be(at + 6);
    // A catalog key is its parent ID and its name, nothing more.
    if (!r.ok() || nameLength == 0 || nameLength > 255 || keyLength != 6u + 2u * nameLength)
        return 0;
    const std::size_t data = at + 2 + keyLength;
    const std::uint16_t type = r.u16be(data);
    const std::size_t length = type == 1 ? kFolderRecordSize : type == 2 ? kFileRecordSize : 0;
    return length == 0 || !r.has(data, length) || !r.ok() ? 0 : 2 + keyLength + length;
}

// The length of any record the table names: a folder or file record, or a
// thread record (its parent ID and name after the key); 0 when it is none.
std::size_t tableRecordLength(std::span<const std::uint8_t> bytes, std::size_t at)
{
    if (std::size_t length = catalogRecordLength(bytes, at))
        return length;
    ByteReader r(bytes);
    const std::size_t data = at + 2 + r.u16be(at);
    const std::uint16_t type = r.u16be(data);
    if (!r.ok() || (type != 3 && type != 4))
        return 0;
    const std::size_t length = 2 + r.u16be(at) + 10 + 2 * std::size_t{r.u16be(data + 8)};
    return r.ok() && r.has(at, length) ? length : 0;
}

} // namespace

bool holdsCatalogRecord(std::span<const std::uint8_t> node, std::size_t offset)
{
    return tableRecordLength(node, offset) != 0;
}

std::vector<LooseRecord> looseCatalogRecords(std::span<const std::uint8_t> node, std::size_t limit)
{
    std::vector<LooseRecord> found;
    const NodeDescriptor d = NodeDescriptor::parse(node);
    if (node.size() < 64 || d.kind != kLeafNode)
        return found;
    // The table grows down from the node's end; records never reach into it.
    const std::size_t tableBytes = 2 * (std::size_t{d.numRecords} + 1);
    if (tableBytes + 14 > node.size())
        return found;
    const std::size_t tableStart = node.size() - tableBytes;
    std::vector<bool> named(node.size(), false);
    for (std::uint16_t at : recordOffsets(node, d.numRecords))
        named[at] = true;
    const auto records = node.first(tableStart);
    for (std::size_t at = 14; at + 8 <= tableStart && found.size() < limit;) {
        if (named[at]) {
            // A live record, thread records too, is passed over whole.
            at += std::max<std::size_t>(2, tableRecordLength(records, at));
            continue;
        }
        const std::size_t length = catalogRecordLength(records, at);
        if (length == 0) {
            at += 2; // records start on even offsets
            continue;
        }
        auto record = CatalogRecord::parse(records, at);
        if (record && record->id >= kFirstUserId && record->parentId != 0 && record->id != record->parentId)
            found.push_back({at, std::move(*record)});
        // Nothing is searched for inside a record found.
        at += length;
    }
    return found;
}

std::optional<OverflowRecord> OverflowRecord::parse(std::span<const std::uint8_t> node, std::size_t offset)
{
    ByteReader r(node);
    OverflowRecord o;
    o.forkType = r.u8(offset + 2);
    o.fileId = r.u32be(offset + 4);
    o.startBlock = r.u32be(offset + 8);
    for (std::size_t i = 0; i < 8; ++i)
        o.extents[i] = {r.u32be(offset + 12 + 8 * i), r.u32be(offset + 16 + 8 * i)};
    if (!r.ok())
        return std::nullopt;
    return o;
}

} // namespace qis::hfsdisk

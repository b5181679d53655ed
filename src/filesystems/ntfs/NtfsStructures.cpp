#include "filesystems/ntfs/NtfsStructures.h"

#include "util/ByteReader.h"

namespace qis::ntfsdisk {
namespace {

constexpr std::size_t kMaxAttributes = 256;

} // namespace

BootSector BootSector::parse(std::span<const std::uint8_t> sector)
{
    ByteReader r(sector);
    BootSector b;
    b.signatureOk = r.matches(0x03, "NTFS");
    b.bytesPerSector = r.u16le(0x0B);
    b.sectorsPerCluster = r.u8(0x0D);
    b.totalSectors = r.u64le(0x28);
    b.mftCluster = r.u64le(0x30);
    b.mftMirrorCluster = r.u64le(0x38);
    return b;
}

std::uint64_t BootSector::bytesPerCluster() const
{
    if (bytesPerSector < 256 || bytesPerSector > 4096 || (bytesPerSector & (bytesPerSector - 1)) != 0)
        return 0;
    std::uint64_t sectors = sectorsPerCluster;
    if (sectorsPerCluster > 0x80) {
        unsigned shift = 256u - sectorsPerCluster;
        if (shift > 24)
            return 0;
        sectors = 1ull << shift;
    }
    std::uint64_t bytes = sectors * bytesPerSector;
    return bytes == 0 || bytes > kMaxBytesPerCluster ? 0 : bytes;
}

RecordHeader RecordHeader::parse(std::span<const std::uint8_t> record)
{
    ByteReader r(record);
    RecordHeader h;
    h.signatureOk = r.matches(0x00, "FILE");
    h.updateSequenceOffset = r.u16le(0x04);
    h.updateSequenceCount = r.u16le(0x06);
    h.firstAttributeOffset = r.u16le(0x14);
    h.sequenceNumber = r.u16le(0x10);
    h.flags = r.u16le(0x16);
    h.baseRecord = r.u64le(0x20) & 0xFFFFFFFFFFFFull;
    h.baseSequence = r.u16le(0x26);
    if (h.updateSequenceOffset >= 0x30 && r.has(0x2C, 4))
        h.recordNumber = r.u32le(0x2C);
    return h;
}

bool applyFixups(std::span<std::uint8_t> record)
{
    RecordHeader h = RecordHeader::parse(record);
    const std::size_t u = h.updateSequenceOffset;
    if (u + 2 > record.size())
        return true;
    const std::uint8_t check0 = record[u], check1 = record[u + 1];
    bool intact = true;
    for (std::size_t k = 1; k < h.updateSequenceCount; ++k) {
        std::size_t end = 512 * k;
        std::size_t entry = u + 2 * k;
        if (end > record.size() || entry + 1 >= record.size())
            break;
        if (record[end - 2] != check0 || record[end - 1] != check1)
            intact = false;
        record[end - 2] = record[entry];
        record[end - 1] = record[entry + 1];
    }
    return intact;
}

std::vector<AttributeHeader> walkAttributes(std::span<const std::uint8_t> record)
{
    std::vector<AttributeHeader> list;
    ByteReader r(record);
    std::size_t at = r.u16le(0x14);
    while (list.size() < kMaxAttributes && r.has(at, 8)) {
        AttributeHeader a;
        a.offset = at;
        a.type = r.u32le(at + 0x00);
        if (a.type == kAttrEnd)
            break;
        a.length = r.u32le(at + 0x04);
        // A length that does not move the walk on, or runs past the record, ends it.
        if (a.length < 16 || a.length > record.size() - at)
            break;
        a.nonResident = r.u8(at + 0x08);
        a.nameLength = r.u8(at + 0x09);
        a.nameOffset = r.u16le(at + 0x0A);
        a.flags = r.u16le(at + 0x0C);
        a.attributeId = r.u16le(at + 0x0E);
        if (a.nonResident == 0) {
            a.valueLength = r.u32le(at + 0x10);
            a.valueOffset = r.u16le(at + 0x14);
        } else {
            a.startingVcn = r.u64le(at + 0x10);
            a.lastVcn = r.u64le(at + 0x18);
            a.runListOffset = r.u16le(at + 0x20);
            a.compressionUnit = r.u16le(at + 0x22);
            a.allocatedSize = r.u64le(at + 0x28);
            a.dataSize = r.u64le(at + 0x30);
            a.initializedSize = r.u64le(at + 0x38);
        }
        list.push_back(a);
        at += a.length;
    }
    return list;
}

std::span<const std::uint8_t> residentValue(std::span<const std::uint8_t> record, const AttributeHeader& a)
{
    if (a.nonResident != 0 || a.valueOffset > a.length || a.valueLength > a.length - a.valueOffset)
        return {};
    return record.subspan(a.offset + a.valueOffset, a.valueLength);
}

std::u16string attributeName(std::span<const std::uint8_t> record, const AttributeHeader& a)
{
    std::u16string name;
    ByteReader r(record.subspan(a.offset, a.length));
    for (std::size_t i = 0; i < a.nameLength; ++i) {
        std::size_t at = a.nameOffset + 2 * i;
        if (!r.has(at, 2))
            break;
        name.push_back(static_cast<char16_t>(r.u16le(at)));
    }
    return name;
}

std::vector<DataRun> decodeRunList(std::span<const std::uint8_t> list, std::uint64_t clusterCount)
{
    std::vector<DataRun> runs;
    std::int64_t lcn = 0;
    std::uint64_t total = 0;
    std::size_t at = 0;
    while (at < list.size()) {
        std::uint8_t header = list[at];
        unsigned lengthSize = header & 0x0F, offsetSize = header >> 4;
        if (lengthSize == 0 || lengthSize > 8 || offsetSize > 8 || lengthSize + offsetSize > list.size() - at - 1)
            break;
        std::uint64_t length = 0;
        for (unsigned i = 0; i < lengthSize; ++i)
            length |= std::uint64_t{list[at + 1 + i]} << (8 * i);
        DataRun run;
        run.length = length;
        if (offsetSize == 0) {
            run.sparse = true;
        } else {
            std::uint64_t raw = 0;
            for (unsigned i = 0; i < offsetSize; ++i)
                raw |= std::uint64_t{list[at + 1 + lengthSize + i]} << (8 * i);
            if (offsetSize < 8 && (raw >> (8 * offsetSize - 1)) & 1)
                raw |= ~0ull << (8 * offsetSize); // sign-extend the delta
            std::int64_t next;
            if (__builtin_add_overflow(lcn, static_cast<std::int64_t>(raw), &next) || next < 0)
                break;
            lcn = next;
            run.lcn = static_cast<std::uint64_t>(lcn);
        }
        at += 1 + lengthSize + offsetSize;
        if (length == 0)
            continue;
        if (__builtin_add_overflow(total, length, &total) || total > clusterCount)
            break;
        runs.push_back(run);
    }
    return runs;
}

std::vector<DataRun> decodeRunList(std::span<const std::uint8_t> record, const AttributeHeader& a)
{
    if (a.nonResident == 0 || a.runListOffset >= a.length || a.lastVcn < a.startingVcn)
        return {};
    std::uint64_t count = a.lastVcn - a.startingVcn + 1;
    return decodeRunList(record.subspan(a.offset + a.runListOffset, a.length - a.runListOffset), count);
}

std::optional<FileNameValue> FileNameValue::parse(std::span<const std::uint8_t> value)
{
    ByteReader r(value);
    if (!r.has(0, 0x42))
        return std::nullopt;
    FileNameValue f;
    f.parentReference = r.u64le(0x00);
    f.creationTime = r.u64le(0x08);
    f.modificationTime = r.u64le(0x10);
    f.accessTime = r.u64le(0x20);
    f.allocatedSize = r.u64le(0x28);
    f.dataSize = r.u64le(0x30);
    f.flags = r.u32le(0x38);
    f.nameLength = r.u8(0x40);
    f.nameSpace = r.u8(0x41);
    if (!r.has(0x42, std::size_t{2} * f.nameLength))
        return std::nullopt;
    for (std::size_t i = 0; i < f.nameLength; ++i)
        f.name.push_back(static_cast<char16_t>(r.u16le(0x42 + 2 * i)));
    return f;
}

std::optional<StandardInformation> StandardInformation::parse(std::span<const std::uint8_t> value)
{
    ByteReader r(value);
    if (!r.has(0, 0x24))
        return std::nullopt;
    StandardInformation s;
    s.creationTime = r.u64le(0x00);
    s.modificationTime = r.u64le(0x08);
    s.mftChangeTime = r.u64le(0x10);
    s.accessTime = r.u64le(0x18);
    s.fileAttributes = r.u32le(0x20);
    return s;
}

std::optional<FileNameValue> removedFileName(std::span<const std::uint8_t> record)
{
    ByteReader r(record);
    std::size_t at = r.u16le(0x14);
    for (const AttributeHeader& a : walkAttributes(record))
        at = a.offset + a.length;
    // The end marker stands where the removed attribute started; its
    // resident header goes on behind the marker's eight bytes.
    if (!r.has(at, 0x18) || r.u32le(at) != kAttrEnd)
        return std::nullopt;
    const std::uint8_t nonResident = r.u8(at + 0x08);
    const std::uint8_t nameLength = r.u8(at + 0x09);
    const std::uint32_t valueLength = r.u32le(at + 0x10);
    const std::uint16_t valueOffset = r.u16le(at + 0x14);
    if (nonResident != 0 || nameLength != 0 || valueOffset != 0x18 || valueLength < 0x42 ||
        !r.has(at + valueOffset, valueLength))
        return std::nullopt;
    auto value = FileNameValue::parse(record.subspan(at + valueOffset, valueLength));
    // A $FILE_NAME's value is exactly its fixed part and its name.
    if (!value || value->name.empty() || valueLength != 0x42u + 2u * value->nameLength)
        return std::nullopt;
    return value;
}

std::vector<AttributeListEntry> parseAttributeList(std::span<const std::uint8_t> list, std::size_t limit,
                                                   bool sortedOnly)
{
    std::vector<AttributeListEntry> entries;
    ByteReader r(list);
    for (std::size_t at = 0; entries.size() < limit && r.has(at, 0x1A);) {
        AttributeListEntry e;
        e.type = r.u32le(at + 0x00);
        e.length = r.u16le(at + 0x04);
        if (e.type == kAttrEnd || e.type == 0 || e.length < 0x1A || !r.has(at, e.length))
            break;
        if (sortedOnly && !entries.empty() && e.type < entries.back().type)
            break;
        e.nameLength = r.u8(at + 0x06);
        e.startingVcn = r.u64le(at + 0x08);
        const std::uint64_t reference = r.u64le(at + 0x10);
        e.recordNumber = reference & 0xFFFFFFFFFFFFull;
        e.sequence = static_cast<std::uint16_t>(reference >> 48);
        entries.push_back(e);
        at += e.length;
    }
    return entries;
}

} // namespace qis::ntfsdisk

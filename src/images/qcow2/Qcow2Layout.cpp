#include "images/qcow2/Qcow2Layout.h"

#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <array>

namespace qis::qcow2 {
namespace {

std::optional<ParseError> unsupportedVariant(const Header& h)
{
    auto unsupported = [](std::string text) { return ParseError{ParseFailure::Unsupported, std::move(text)}; };
    if (h.version != 2 && h.version != 3)
        return unsupported("qcow2 version " + std::to_string(h.version) + " images are not supported.");
    if (h.cryptMethod != 0)
        return unsupported("Encrypted qcow2 images are not supported.");
    if (h.incompatibleFeatures & kExternalDataFile)
        return unsupported("qcow2 images whose data is kept in an external data file are not supported.");
    if (h.incompatibleFeatures & kExtendedL2)
        return unsupported("qcow2 images with extended L2 entries (subclusters) are not supported.");
    if ((h.incompatibleFeatures & kCompressionType) && h.compressionType != 0)
        return unsupported(h.compressionType == 1
                               ? "qcow2 images compressed with zstd are not supported."
                               : "qcow2 compression type " + std::to_string(h.compressionType) + " is not supported.");
    if (h.incompatibleFeatures & ~kKnownIncompatible)
        return unsupported("This qcow2 image uses features that are not supported.");
    return std::nullopt;
}

} // namespace

bool Qcow2Layout::l2Readable(std::uint64_t l1Entry, std::uint64_t fileSize) const
{
    const std::uint64_t offset = l1Entry & kOffsetMask;
    return offset % clusterSize == 0 && offset < fileSize && clusterSize <= fileSize - offset;
}

Parsed<Qcow2Layout> readQcow2Layout(ImageFile& file)
{
    std::array<std::uint8_t, 512> bytes{};
    const std::size_t got = file.readAt(0, bytes);
    Qcow2Layout layout;
    Header& h = layout.header;
    h = Header::parse(std::span(bytes).first(got));
    if (h.magic != kMagic)
        return ParseError{ParseFailure::NotThisFormat, "This is not a qcow2 image."};
    if (got < kVersion2HeaderSize || (h.version >= 3 && got < kVersion3HeaderSize))
        return ParseError{ParseFailure::Damaged, "The qcow2 header is cut short."};
    if (auto refusal = unsupportedVariant(h))
        return *refusal;
    if (h.clusterBits < kMinClusterBits || h.clusterBits > kMaxClusterBits)
        return ParseError{ParseFailure::Damaged, "The qcow2 cluster size is damaged."};
    if (h.version >= 3 && h.headerLength < kVersion3HeaderSize)
        return ParseError{ParseFailure::Damaged, "The qcow2 header length is damaged."};
    if (h.incompatibleFeatures & kCorrupt)
        layout.damage.emplace_back("The qcow2 image is marked corrupt; it is read as its tables stand.");

    layout.clusterSize = 1ull << h.clusterBits;
    layout.l2Entries = layout.clusterSize / 8;
    // Sizes are kept below 2^63, so offsets fit the readers' signed positions.
    layout.diskBytes = ceilDiv(std::min<std::uint64_t>(h.size, 1ull << 62), 512) * 512;
    const std::uint64_t needed = ceilDiv(layout.diskBytes, layout.bytesPerL2());
    layout.l1Needed = std::min<std::uint64_t>(needed, h.l1Size);
    if (layout.l1Needed < needed)
        layout.damage.emplace_back("The qcow2 L1 table is shorter than the disk; the rest reads as unallocated.");

    // Only the entries the file holds are loaded; the rest cannot be read.
    const std::uint64_t fileSize = file.size();
    std::uint64_t inFile = h.l1TableOffset < fileSize ? (fileSize - h.l1TableOffset) / 8 : 0;
    std::uint64_t loaded = std::min({layout.l1Needed, inFile, kMaxTableBytes / 8});
    std::vector<std::uint8_t> table(static_cast<std::size_t>(loaded * 8));
    table.resize(file.readAt(h.l1TableOffset, table) / 8 * 8);
    ByteReader r(table);
    layout.l1.reserve(table.size() / 8);
    for (std::size_t i = 0; i < table.size(); i += 8)
        layout.l1.push_back(r.u64be(i));

    // What cannot be read: L1 entries missing from the file, and L2 tables
    // that would lie outside it.
    const std::uint64_t diskBytes = layout.diskBytes;
    auto coverage = [&](std::uint64_t index) {
        const std::uint64_t start = index * layout.bytesPerL2();
        return start >= diskBytes ? 0 : std::min(layout.bytesPerL2(), diskBytes - start);
    };
    std::uint64_t damagedTables = layout.l1Needed - layout.l1.size();
    for (std::uint64_t i = 0; i < layout.l1.size(); ++i)
        if ((layout.l1[i] & kOffsetMask) != 0 && !layout.l2Readable(layout.l1[i], fileSize)) {
            layout.unreadableBytes += coverage(i);
            ++damagedTables;
        }
    const std::uint64_t loadedBytes = layout.l1.size() * layout.bytesPerL2(); 
    if (diskBytes > loadedBytes)
        layout.unreadableBytes += std::min(diskBytes, layout.l1Needed * layout.bytesPerL2()) - loadedBytes;
    if (damagedTables > 0)
        layout.damage.emplace_back(std::to_string(damagedTables) +
                                   " qcow2 L2 tables are missing or damaged; their clusters read as zeros.");

    if (h.backingFileOffset != 0 && h.backingFileSize != 0) {
        if (h.backingFileSize > kMaxBackingNameLength)
            return ParseError{ParseFailure::Damaged, "The qcow2 backing file name is damaged."};
        std::string name(h.backingFileSize, '\0');
        std::span<std::uint8_t> nameBytes(reinterpret_cast<std::uint8_t*>(name.data()), name.size());
        if (file.readAt(h.backingFileOffset, nameBytes) != name.size() || name.find('\0') != std::string::npos)
            return ParseError{ParseFailure::Damaged, "The qcow2 backing file name is damaged."};
        layout.backingName = std::move(name);
    }
    return layout;
}

} // namespace qis::qcow2

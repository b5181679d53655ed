#include "images/vmdk/VmdkLayout.h"

#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <array>

namespace qis::vmdk {
namespace {

bool inFile(const ImageFile& file, std::uint64_t sectorOffset, std::uint64_t bytes)
{
    auto start = checkedMul(sectorOffset, 512);
    if (!start)
        return false;
    auto end = checkedAdd(*start, bytes);
    return end && *end <= file.size();
}

// A structure that does not hold may only look so because reading it failed.
ParseFailure unlessUnread(const ImageFile& file, ParseFailure kind)
{
    return file.lastError() != 0 ? ParseFailure::Io : kind;
}

} // namespace

std::optional<Descriptor> readVmdkDescriptor(ImageFile& file, SparseExtentHeader& header)
{
    std::array<std::uint8_t, 512> bytes{};
    header = SparseExtentHeader::parse(std::span(bytes).first(file.readAt(0, bytes)));
    if (header.magicNumber != kMagic)
        return std::nullopt;
    if (header.descriptorOffset == 0 || header.descriptorSize == 0 ||
        header.descriptorSize > kMaxDescriptorBytes / 512)
        return std::nullopt;
    std::uint64_t length = header.descriptorSize * 512;
    if (!inFile(file, header.descriptorOffset, 0))
        return std::nullopt;
    std::string text(static_cast<std::size_t>(length), '\0');
    std::size_t got = file.readAt(header.descriptorOffset * 512,
                                  {reinterpret_cast<std::uint8_t*>(text.data()), text.size()});
    text.resize(got);
    // The descriptor is padded with NULs to whole sectors.
    if (auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return parseDescriptor(text);
}

Parsed<VmdkLayout> readVmdkLayout(ImageFile& file)
{
    VmdkLayout layout;
    layout.descriptor = readVmdkDescriptor(file, layout.header);
    // The extents of a split disk keep an empty descriptor area of their own.
    if (layout.descriptor && !layout.descriptor->hasCreateType && layout.descriptor->extentList.empty())
        layout.descriptor.reset();
    SparseExtentHeader& h = layout.header;
    if (h.magicNumber != kMagic) {
        // A descriptor on its own is a VMDK whose data lies in other files.
        std::array<std::uint8_t, 21> start{};
        bool descriptorFile =
            ByteReader(std::span(start).first(file.readAt(0, start))).matches(0, "# Disk DescriptorFile");
        return ParseError{unlessUnread(file, descriptorFile ? ParseFailure::Unsupported : ParseFailure::NotThisFormat),
                          descriptorFile ? "A VMDK descriptor file is not a sparse extent."
                                         : "This is not a VMDK descriptor or sparse extent."};
    }
    if (h.gdOffset == kGdAtEnd) {
        // Written as a stream: the footer, a copy of the header in the
        // second-to-last sector, knows where the directory went.
        std::array<std::uint8_t, 512> bytes{};
        SparseExtentHeader footer;
        if (file.size() >= 1536)
            footer = SparseExtentHeader::parse(std::span(bytes).first(file.readAt(file.size() - 1024, bytes)));
        if (footer.magicNumber != kMagic || footer.gdOffset == kGdAtEnd)
            return ParseError{unlessUnread(file, ParseFailure::Damaged),
                              "The VMDK footer that locates the grain directory is missing."};
        h.gdOffset = footer.gdOffset;
        h.rgdOffset = footer.rgdOffset == kGdAtEnd ? 0 : footer.rgdOffset;
    }
    if (h.flags & kFlagCompressedGrains) {
        if (h.compressAlgorithm != kCompressionDeflate)
            return ParseError{ParseFailure::Unsupported, "The VMDK grains are compressed in a way that is not read."};
        layout.compressed = true;
    }
    if (!isPowerOfTwo(h.grainSize) || h.grainSize < 8 || h.grainSize > 65536 || h.numGTEsPerGT == 0 ||
        h.numGTEsPerGT > 65536)
        return ParseError{ParseFailure::Damaged, "The VMDK grain size or grain table size is damaged."};
    layout.sectorsPerDirectoryEntry = h.grainSize * h.numGTEsPerGT;
    std::uint64_t entries = ceilDiv(h.capacity, layout.sectorsPerDirectoryEntry);
    // With the usual 64 KiB grains and 512-entry tables this is far past the
    // largest disk a sparse extent describes.
    if (entries * 4 > kMaxTableBytes)
        return ParseError{ParseFailure::Damaged, "The VMDK capacity is too large for its grain directory."};

    std::uint64_t gd = h.gdOffset;
    if ((h.flags & kFlagRedundantGrainTable) && h.rgdOffset != 0 && inFile(file, h.rgdOffset, entries * 4))
        gd = h.rgdOffset;
    if (!inFile(file, gd, 0) || gd == 0)
        return ParseError{ParseFailure::Damaged, "The VMDK grain directory is missing."};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(entries * 4), 0);
    file.readAt(gd * 512, bytes);
    ByteReader r(bytes);
    layout.grainDirectory.reserve(static_cast<std::size_t>(entries));
    for (std::uint64_t i = 0; i < entries; ++i)
        layout.grainDirectory.push_back(r.u32le(static_cast<std::size_t>(i * 4)));

    layout.diskSectors = h.capacity;
    if (layout.descriptor) {
        if (!layout.descriptor->hasCreateType)
            return ParseError{unlessUnread(file, ParseFailure::Damaged), "The VMDK descriptor has no createType."};
        std::uint64_t sum = layout.descriptor->extentSectors();
        if (sum > 0 && sum != UINT64_MAX)
            layout.diskSectors = sum;
    }
    return layout;
}

} // namespace qis::vmdk

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

VmdkLayoutResult readVmdkLayout(ImageFile& file)
{
    VmdkLayoutResult result;
    VmdkLayout& layout = result.layout;
    layout.descriptor = readVmdkDescriptor(file, layout.header);
    const SparseExtentHeader& h = layout.header;
    if (h.magicNumber != kMagic) {
        result.message = "Only VMDK images with a sparse extent are supported.";
        return result;
    }
    if (h.flags & kFlagCompressedGrains) {
        result.message = "Compressed (stream-optimized) VMDK images are not supported.";
        return result;
    }
    if (!isPowerOfTwo(h.grainSize) || h.grainSize < 8 || h.grainSize > 65536 || h.numGTEsPerGT == 0 ||
        h.numGTEsPerGT > 65536) {
        result.message = "The VMDK grain size or grain table size is damaged.";
        return result;
    }
    layout.sectorsPerDirectoryEntry = h.grainSize * h.numGTEsPerGT;
    std::uint64_t entries = ceilDiv(h.capacity, layout.sectorsPerDirectoryEntry);
    if (entries * 4 > kMaxTableBytes) {
        result.message = "The VMDK capacity is too large for its grain directory.";
        return result;
    }

    std::uint64_t gd = h.gdOffset;
    if ((h.flags & kFlagRedundantGrainTable) && h.rgdOffset != 0 && inFile(file, h.rgdOffset, entries * 4))
        gd = h.rgdOffset;
    if (!inFile(file, gd, 0) || gd == 0) {
        result.message = "The VMDK grain directory is missing.";
        return result;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(entries * 4), 0);
    file.readAt(gd * 512, bytes);
    ByteReader r(bytes);
    layout.grainDirectory.reserve(static_cast<std::size_t>(entries));
    for (std::uint64_t i = 0; i < entries; ++i)
        layout.grainDirectory.push_back(r.u32le(static_cast<std::size_t>(i * 4)));

    layout.diskSectors = h.capacity;
    if (layout.descriptor) {
        if (!layout.descriptor->hasCreateType) {
            result.message = "The VMDK descriptor has no createType.";
            return result;
        }
        std::uint64_t sum = layout.descriptor->extentSectors();
        if (sum > 0 && sum != UINT64_MAX)
            layout.diskSectors = sum;
    }
    result.ok = true;
    return result;
}

} // namespace qis::vmdk

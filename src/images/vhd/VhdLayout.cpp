#include "images/vhd/VhdLayout.h"

#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <array>

namespace qis::vhd {
namespace {

bool isDynamicType(std::uint32_t type) { return type == kDiskTypeDynamic || type == kDiskTypeDifferencing; }

// A structure that does not hold may only look so because reading it failed.
ParseFailure unlessUnread(const ImageFile& file, ParseFailure kind)
{
    return file.lastError() != 0 ? ParseFailure::Io : kind;
}

} // namespace

Parsed<VhdLayout> readVhdLayout(ImageFile& file)
{
    VhdLayout layout;
    std::array<std::uint8_t, 512> buffer{};

    Footer start = Footer::parse(std::span(buffer).first(file.readAt(0, buffer)));
    Footer end;
    if (file.size() >= 512) {
        buffer.fill(0);
        end = Footer::parse(std::span(buffer).first(file.readAt(file.size() - 512, buffer)));
    }

    if (start.cookieOk && isDynamicType(start.diskType)) {
        layout.footer = start;
    } else if (end.cookieOk && end.diskType == kDiskTypeFixed) {
        layout.fixed = true;
        layout.footer = end;
        return layout;
    } else if (end.cookieOk && isDynamicType(end.diskType)) {
        layout.footer = end;
    } else if (start.cookieOk) {
        layout.footer = start; // an odd disk type: read it as laid out dynamically
    } else {
        buffer.fill(0);
        DynamicHeader probe = DynamicHeader::parse(std::span(buffer).first(file.readAt(512, buffer)));
        if (!probe.cookieOk)
            return ParseError{unlessUnread(file, ParseFailure::NotThisFormat), "The VHD footer is missing or damaged."};
    }

    std::array<std::uint8_t, 1024> headerBytes{};
    std::uint64_t headerAt = 512;
    if (layout.footer.dataOffset >= 512 && layout.footer.dataOffset < file.size() &&
        layout.footer.dataOffset != UINT64_MAX)
        headerAt = layout.footer.dataOffset;
    DynamicHeader header = DynamicHeader::parse(std::span(headerBytes).first(file.readAt(headerAt, headerBytes)));
    if (!header.cookieOk && headerAt != 512) {
        headerBytes.fill(0);
        headerAt = 512;
        header = DynamicHeader::parse(std::span(headerBytes).first(file.readAt(headerAt, headerBytes)));
    }

    layout.header = header;
    layout.maxTableEntries = header.maxTableEntries;
    if (isPowerOfTwo(header.blockSize) && header.blockSize >= 512 && header.blockSize <= (256u << 20))
        layout.blockSize = header.blockSize;
    if (header.tableOffset >= headerAt + 1024 && header.tableOffset < file.size())
        layout.tableOffset = header.tableOffset;
    else
        layout.tableOffset = headerAt + 1024;
    if (layout.footer.currentSize == 0 && !start.cookieOk && !end.cookieOk)
        layout.footer.currentSize = std::uint64_t{layout.maxTableEntries} * layout.blockSize;
    return layout;
}

Parsed<std::vector<std::uint64_t>> readVhdBlockTable(ImageFile& file, const VhdLayout& layout)
{
    std::uint64_t entries = layout.maxTableEntries;
    std::uint64_t inFile = layout.tableOffset < file.size() ? (file.size() - layout.tableOffset) / 4 : 0;
    entries = std::min(entries, inFile);
    // More than is loaded into memory; the image may well be sound.
    if (entries * 4 > kMaxTableBytes)
        return ParseError{ParseFailure::Unsupported, "The VHD block allocation table is too large to load."};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(entries * 4), 0);
    bytes.resize(file.readAt(layout.tableOffset, bytes));
    ByteReader r(bytes);
    std::vector<std::uint64_t> table;
    table.reserve(static_cast<std::size_t>(entries));
    for (std::uint64_t i = 0; i < entries; ++i)
        table.push_back(r.u32be(static_cast<std::size_t>(i * 4)));
    return table;
}

} // namespace qis::vhd

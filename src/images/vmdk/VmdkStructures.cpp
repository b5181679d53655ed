#include "images/vmdk/VmdkStructures.h"

#include "util/ByteReader.h"

#include <charconv>

namespace qis::vmdk {
namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\0'))
        s.remove_suffix(1);
    return s;
}

std::string_view unquote(std::string_view s)
{
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        return s.substr(1, s.size() - 2);
    return s;
}

// RW|RDONLY|NOACCESS <sectors> <type> ["file" [offset]]
bool parseExtentLine(std::string_view line, ExtentRecord& extent)
{
    auto next = [&line]() {
        line = trim(line);
        std::size_t end = line.find_first_of(" \t");
        std::string_view token = line.substr(0, end);
        line = end == std::string_view::npos ? std::string_view{} : line.substr(end);
        return token;
    };
    std::string_view access = next();
    if (access != "RW" && access != "RDONLY" && access != "NOACCESS")
        return false;
    std::string_view size = next();
    std::uint64_t sectors = 0;
    auto [ptr, ec] = std::from_chars(size.data(), size.data() + size.size(), sectors);
    if (ec != std::errc{} || ptr != size.data() + size.size())
        return false;
    extent.sizeSectors = sectors;
    extent.type = std::string(next());
    line = trim(line);
    if (!line.empty() && line.front() == '"') {
        std::size_t close = line.find('"', 1);
        if (close == std::string_view::npos)
            return false;
        extent.fileName = std::string(line.substr(1, close - 1));
        line = trim(line.substr(close + 1));
        if (!line.empty()) {
            std::string_view offset = next();
            auto [end, error] = std::from_chars(offset.data(), offset.data() + offset.size(), extent.offsetSectors);
            if (error != std::errc{} || end != offset.data() + offset.size())
                return false;
        }
    }
    return !extent.type.empty();
}

} // namespace

SparseExtentHeader SparseExtentHeader::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    SparseExtentHeader h;
    h.magicNumber = r.u32le(0x00);
    h.version = r.u32le(0x04);
    h.flags = r.u32le(0x08);
    h.capacity = r.u64le(0x0C);
    h.grainSize = r.u64le(0x14);
    h.descriptorOffset = r.u64le(0x1C);
    h.descriptorSize = r.u64le(0x24);
    h.numGTEsPerGT = r.u32le(0x2C);
    h.rgdOffset = r.u64le(0x30);
    h.gdOffset = r.u64le(0x38);
    h.compressAlgorithm = r.u16le(0x4D);
    return h;
}

ExtentKind extentKindOf(std::string_view type)
{
    if (type == "SPARSE")
        return ExtentKind::Sparse;
    // Raw device mappings name a device or a file that holds the disk as it is.
    if (type == "FLAT" || type == "VMFS" || type == "VMFSRAW" || type == "VMFSRDM")
        return ExtentKind::Flat;
    if (type == "ZERO")
        return ExtentKind::Zero;
    return ExtentKind::Unsupported;
}

bool looksLikeDescriptorFile(std::string_view text)
{
    return text.starts_with("# Disk DescriptorFile");
}

std::uint64_t Descriptor::extentSectors() const
{
    std::uint64_t sum = 0;
    for (const auto& e : extentList)
        if (__builtin_add_overflow(sum, e.sizeSectors, &sum))
            return UINT64_MAX;
    return sum;
}

Descriptor parseDescriptor(std::string_view text)
{
    Descriptor d;
    std::size_t lines = 0;
    while (!text.empty() && lines++ < kMaxDescriptorLines) {
        std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        ExtentRecord extent;
        if (parseExtentLine(line, extent)) {
            if (d.extentList.size() < kMaxExtents) {
                d.lastExtentType = extent.type;
                d.extentList.push_back(std::move(extent));
            }
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view key = trim(line.substr(0, eq));
        std::string value(unquote(trim(line.substr(eq + 1))));
        if (key == "version")
            d.version = value;
        else if (key == "CID")
            d.cid = value;
        else if (key == "parentCID")
            d.parentCid = value;
        else if (key == "parentFileNameHint")
            d.parentFileNameHint = value;
        else if (key == "createType") {
            d.createType = value;
            d.hasCreateType = true;
        } else if (key == "ddb.virtualHWVersion")
            d.virtualHwVersion = value;
        else if (key == "ddb.geometry.cylinders")
            d.cylinders = value;
        else if (key == "ddb.geometry.heads")
            d.heads = value;
        else if (key == "ddb.geometry.sectors")
            d.sectors = value;
        else if (key == "ddb.adapterType")
            d.adapterType = value;
        else if (key == "ddb.toolsVersion")
            d.toolsVersion = value;
    }
    return d;
}

} // namespace qis::vmdk

#include "images/vmdk/VmdkDisk.h"

#include "util/CheckedMath.h"

#include <map>

namespace qis::vmdk {
namespace {

ParseError extentError(const std::string& name, const std::string& why)
{
    return ParseError{ParseFailure::Io, "The VMDK extent \"" + name + "\" cannot be read: " + why};
}

// Opens the extent file `name` once, however many extent lines name it.
Parsed<std::size_t> openExtentFile(VmdkDisk& disk, std::map<std::string, std::size_t>& opened,
                                   const std::filesystem::path& folder, const std::string& name)
{
    if (auto it = opened.find(name); it != opened.end())
        return it->second;
    auto path = resolveBeside(folder, name);
    if (!path)
        return extentError(name, "only names inside the descriptor's folder are read.");
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(*path, ec)))
        return extentError(name, "it is a symbolic link.");
    auto file = std::make_unique<ImageFile>();
    if (!file->open(*path))
        return extentError(name, openFailureReason(*path, file->lastError()));
    disk.files.push_back(std::move(file));
    opened.emplace(name, disk.files.size() - 1);
    return disk.files.size() - 1;
}

// A sparse or stream-optimized extent that starts with its header.
Parsed<VmdkDisk> openSparseImage(std::unique_ptr<ImageFile> file, const std::filesystem::path& path)
{
    auto layout = readVmdkLayout(*file);
    if (!layout)
        return layout.failure();
    VmdkDisk disk;
    DiskExtent extent;
    extent.kind = ExtentKind::Sparse;
    extent.sectors = std::min(layout.value().diskSectors, kMaxDiskSectors);
    extent.name = path.filename().string();
    disk.descriptor = layout.value().descriptor;
    extent.sparse = std::move(layout).value();
    disk.sectors = extent.sectors;
    disk.files.push_back(std::move(file));
    disk.extents.push_back(std::move(extent));
    return disk;
}

Parsed<VmdkDisk> openDescriptorFile(const std::string& text, const std::filesystem::path& folder)
{
    VmdkDisk disk;
    disk.descriptor = parseDescriptor(text);
    const Descriptor& d = *disk.descriptor;
    if (d.extentList.empty())
        return ParseError{ParseFailure::Damaged, "The VMDK descriptor names no extents."};
    std::map<std::string, std::size_t> opened;
    // All the extents' grain directories together get one allocation's bound.
    std::uint64_t directoryBytes = 0;
    for (const ExtentRecord& record : d.extentList) {
        DiskExtent extent;
        extent.kind = extentKindOf(record.type);
        extent.firstSector = disk.sectors;
        extent.sectors = record.sizeSectors;
        extent.name = record.fileName;
        auto end = checkedAdd(disk.sectors, record.sizeSectors);
        if (!end || *end > kMaxDiskSectors)
            return ParseError{ParseFailure::Damaged, "The VMDK descriptor's extents are too large."};
        disk.sectors = *end;
        if (extent.kind == ExtentKind::Unsupported)
            return ParseError{ParseFailure::Unsupported, "VMDK extents of type " + record.type + " are not read."};
        if (extent.kind != ExtentKind::Zero) {
            auto index = openExtentFile(disk, opened, folder, record.fileName);
            if (!index)
                return index.failure();
            extent.file = index.value();
        }
        if (extent.kind == ExtentKind::Flat) {
            auto start = checkedMul(record.offsetSectors, 512);
            if (!start)
                return ParseError{ParseFailure::Damaged, "The VMDK flat extent offset is damaged."};
            extent.flatStart = *start;
        } else if (extent.kind == ExtentKind::Sparse) {
            auto layout = readVmdkLayout(*disk.files[extent.file]);
            if (!layout)
                return ParseError{layout.kind(), "The VMDK extent \"" + record.fileName + "\": " + layout.message()};
            directoryBytes += layout.value().grainDirectory.size() * 4;
            if (directoryBytes > kMaxTableBytes)
                return ParseError{ParseFailure::Damaged, "The VMDK extents' grain directories are too large."};
            extent.sparse = std::move(layout).value();
        }
        if (extent.sectors > 0)
            disk.extents.push_back(std::move(extent));
    }
    return disk;
}

} // namespace

std::optional<std::filesystem::path> resolveBeside(const std::filesystem::path& folder, const std::string& name)
{
    std::filesystem::path relative(name);
    if (name.empty() || relative.is_absolute() || relative.has_root_name() || name.find('\0') != std::string::npos)
        return std::nullopt;
    for (const auto& part : relative)
        if (part == "..")
            return std::nullopt;
    return folder / relative;
}

std::optional<std::string> readDescriptorFile(ImageFile& file)
{
    if (file.size() > kMaxDescriptorBytes)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(file.size()), '\0');
    text.resize(file.readAt(0, {reinterpret_cast<std::uint8_t*>(text.data()), text.size()}));
    if (!looksLikeDescriptorFile(text))
        return std::nullopt;
    if (auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return text;
}

Parsed<VmdkDisk> openVmdkDisk(const std::filesystem::path& path)
{
    auto file = std::make_unique<ImageFile>();
    if (!file->open(path))
        return ParseError{ParseFailure::Io, openFailureReason(path, file->lastError())};
    const std::filesystem::path folder = path.parent_path();
    Parsed<VmdkDisk> disk = ParseError{ParseFailure::NotThisFormat, ""};
    if (auto text = readDescriptorFile(*file))
        disk = openDescriptorFile(*text, folder);
    else
        disk = openSparseImage(std::move(file), path);
    if (!disk)
        return disk;
    return disk;
}

} // namespace qis::vmdk

#pragma once

#include "images/vmdk/VmdkLayout.h"
#include "platform/ImageFile.h"
#include "util/Parsed.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qis::vmdk {

// Largest virtual disk read: 2^40 sectors (512 TiB), beyond any VMDK.
inline constexpr std::uint64_t kMaxDiskSectors = 1ull << 40;

// One stretch of the virtual disk and where it is kept.
struct DiskExtent {
    ExtentKind kind = ExtentKind::Zero;
    std::uint64_t firstSector = 0; // on the virtual disk
    std::uint64_t sectors = 0;
    std::size_t file = 0;          // index into VmdkDisk::files (Sparse, Flat)
    std::uint64_t flatStart = 0;   // byte offset of a flat extent's data in its file
    std::optional<VmdkLayout> sparse;
    std::string name; // the file as the descriptor names it
};

// A VMDK as its descriptor describes it: the extent files, opened read-only,
// in the order they make up the disk.
struct VmdkDisk {
    std::vector<std::unique_ptr<ImageFile>> files;
    std::vector<DiskExtent> extents;
    std::optional<Descriptor> descriptor;
    std::uint64_t sectors = 0;
};

// Opens a VMDK: a sparse or stream-optimized extent that embeds its
// descriptor, or a descriptor file naming its extents (sparse, flat, zero).
// Extent names are resolved in the descriptor's folder; absolute names, `..`
// and symbolic links are refused, and a missing extent names its file.
Parsed<VmdkDisk> openVmdkDisk(const std::filesystem::path& path);

// The descriptor file's text, or nullopt when the file is not one (it must
// start with "# Disk DescriptorFile" and be at most kMaxDescriptorBytes).
std::optional<std::string> readDescriptorFile(ImageFile& file);

// Where `name` (untrusted) lies beside the descriptor in `folder`; nullopt
// for an empty or absolute name or one that climbs out with `..`.
std::optional<std::filesystem::path> resolveBeside(const std::filesystem::path& folder, const std::string& name);

} // namespace qis::vmdk

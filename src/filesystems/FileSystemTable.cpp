#include "filesystems/FileSystemTable.h"

#include "filesystems/exfat/ExfatScan.h"
#include "filesystems/ext/ExtScan.h"
#include "filesystems/fat/FatScan.h"
#include "filesystems/hfsplus/HfsScan.h"
#include "filesystems/ntfs/NtfsScan.h"
#include "images/VolumeBytes.h"
#include "util/Ascii.h"
#include "volumes/BootRecord.h"

#include <array>

namespace qis {
namespace {

template <BootRecordKind Kind>
bool bootSectorIs(std::span<const std::uint8_t> start)
{
    return identifyBootSector(start.first(512)).kind == Kind;
}

bool hasExtSuperblock(std::span<const std::uint8_t> start)
{
    return identifyExtSuperblock(start.subspan(1024, 512)).kind == BootRecordKind::Ext;
}

bool hasHfsPlusHeader(std::span<const std::uint8_t> start)
{
    return identifyHfsPlusHeader(start.subspan(1024, 512)).kind == BootRecordKind::HfsPlus;
}

// A new file system is one folder with its scan and one row here.
constexpr std::array kKinds{
    FileSystemKind{"NTFS", "", true, true, bootSectorIs<BootRecordKind::Ntfs>, makeNtfsScan},
    FileSystemKind{"FAT16", "fat", true, false, bootSectorIs<BootRecordKind::Fat16>, makeFat16Scan},
    FileSystemKind{"FAT32", "", true, false, bootSectorIs<BootRecordKind::Fat32>, makeFat32Scan},
    FileSystemKind{"FAT64", "exFAT", true, false, bootSectorIs<BootRecordKind::Exfat>, makeExfatScan},
    FileSystemKind{"extX", "", false, false, hasExtSuperblock, makeExtScan},
    // Any mode other than the standard one rebuilds the catalog from its nodes.
    FileSystemKind{"HFS+", "", true, true, hasHfsPlusHeader, makeHfsScan},
};

} // namespace

std::span<const FileSystemKind> fileSystemKinds() { return kKinds; }

const FileSystemKind* findFileSystem(std::string_view label)
{
    std::string wanted = toLowerAscii(std::string(label));
    wanted.erase(0, wanted.find_first_not_of(' '));
    for (const FileSystemKind& kind : kKinds)
        if (wanted == toLowerAscii(std::string(kind.label)) ||
            (!kind.otherLabel.empty() && wanted == toLowerAscii(std::string(kind.otherLabel))))
            return &kind;
    return nullptr;
}

std::vector<const FileSystemKind*> probeFileSystems(readWriteInterface& reader, std::uint64_t startSector)
{
    std::vector<const FileSystemKind*> accepted;
    std::array<std::uint8_t, kProbeBytes> start{};
    if (startSector > UINT64_MAX / 512 || !readVolumeBytes(reader, startSector * 512, start))
        return accepted;
    for (const FileSystemKind& kind : kKinds)
        if (kind.probe(start))
            accepted.push_back(&kind);
    return accepted;
}

} // namespace qis

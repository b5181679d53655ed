#include "volumes/VolumeIdentification.h"

#include <array>

namespace qis {

IdentifiedVolume identifyVolumeAt(readWriteInterface& reader, std::uint64_t startSector)
{
    IdentifiedVolume result;
    std::array<std::uint8_t, 1536> sectors{};
    if (startSector > static_cast<std::uint64_t>(INT64_MAX) / 512 ||
        !reader.seek(static_cast<std::int64_t>(startSector * 512), 0) ||
        !reader.read(sectors.data(), static_cast<std::uint32_t>(sectors.size())))
        return result;
    result.readOk = true;
    std::span<const std::uint8_t> all(sectors);
    result.record = identifyBootSector(all.first(512));
    if (result.record.kind == BootRecordKind::None)
        result.record = identifyHfsPlusHeader(all.subspan(1024, 512));
    if (result.record.kind == BootRecordKind::None)
        result.record = identifyExtSuperblock(all.subspan(1024, 512));
    return result;
}

BootRecord identifyBootRecordSector(std::span<const std::uint8_t> sector, bool* startsTwoSectorsEarlier)
{
    *startsTwoSectorsEarlier = false;
    std::uint8_t first = sector[0];
    if (first == 0xEB || first == 0xE9)
        return identifyBootSector(sector);
    if (first == 'H') {
        BootRecord hfs = identifyHfsPlusHeader(sector);
        *startsTwoSectorsEarlier = hfs.kind != BootRecordKind::None;
        return hfs;
    }
    if (sector[0x38] == 0x53 && sector[0x39] == 0xEF) {
        BootRecord ext = identifyExtSuperblock(sector);
        *startsTwoSectorsEarlier = ext.kind != BootRecordKind::None;
        return ext;
    }
    return {};
}

std::string sizeTextWide(std::uint64_t mebibytes) { return std::to_string(mebibytes) + "   MB"; }

std::string sizeTextNarrow(std::uint64_t mebibytes) { return std::to_string(mebibytes) + "  MB"; }

} // namespace qis

#include "images/VolumeBytes.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qis {
namespace {

constexpr std::uint64_t kMaxPiece = 16u << 20; // keeps each read well inside 32 bits

bool readAligned(readWriteInterface& reader, std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - out.size() || !reader.seek(static_cast<std::int64_t>(offset), 0)) {
        std::fill(out.begin(), out.end(), 0);
        return false;
    }
    return reader.read(out.data(), static_cast<std::uint32_t>(out.size()));
}

} // namespace

bool readVolumeBytes(readWriteInterface& reader, std::uint64_t offset, std::span<std::uint8_t> out)
{
    bool ok = true;
    while (!out.empty()) {
        std::uint64_t lead = offset % kSectorSize;
        if (lead == 0 && out.size() >= kSectorSize) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size() - out.size() % kSectorSize, kMaxPiece));
            ok = readAligned(reader, offset, out.first(n)) && ok;
            offset += n;
            out = out.subspan(n);
            continue;
        }
        // A partial sector: read the whole sector and take the part asked for.
        std::uint8_t sector[kSectorSize];
        ok = readAligned(reader, offset - lead, sector) && ok;
        std::size_t n = std::min<std::size_t>(out.size(), kSectorSize - lead);
        std::memcpy(out.data(), sector + lead, n);
        offset += n;
        out = out.subspan(n);
    }
    return ok;
}

std::uint64_t withinDisk(const readWriteInterface& reader, std::uint64_t bytes)
{
    if (reader.diskSectorCount == 0)
        return bytes;
    const std::uint64_t disk = reader.diskSectorCount > UINT64_MAX / kSectorSize ? UINT64_MAX : reader.diskSectorCount * kSectorSize;
    const std::uint64_t base = reader.baseOffset > 0 ? static_cast<std::uint64_t>(reader.baseOffset) : 0;
    return base >= disk ? 0 : std::min(bytes, disk - base);
}

} // namespace qis

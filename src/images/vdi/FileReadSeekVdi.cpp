#include "images/vdi/FileReadSeekVdi.h"

#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <array>

namespace qis {

bool FileReadSeekVdi::open(std::filesystem::path path)
{
    imageLength = fileLength(path);
    if (!file_.open(path)) {
        showMessage("Invalid handle ...");
        return false;
    }
    std::array<std::uint8_t, vdi::kHeaderSize> bytes{};
    header_ = vdi::VdiHeader::parse(std::span(bytes).first(file_.readAt(0, bytes)));
    sectorsPerBlock = header_.cbBlock / kSectorSize;

    // A block size that is not a power of two of at least a sector cannot be
    // mapped; the other zero fields mean there is no disk here.
    if (header_.cbDisk == 0 || header_.headerSize == 0 || !isPowerOfTwo(header_.cbBlock) ||
        header_.cbBlock < kSectorSize) {
        showMessage("The VDI header is damaged.");
        return false;
    }

    std::uint64_t entries = header_.cBlocks;
    std::uint64_t inFile = header_.offBlocks < file_.size() ? (file_.size() - header_.offBlocks) / 4 : 0;
    entries = std::min(entries, inFile);
    if (entries * 4 > kMaxTableBytes) {
        showMessage("The VDI block map is too large to load.");
        return false;
    }
    std::vector<std::uint8_t> map(static_cast<std::size_t>(entries * 4), 0);
    map.resize(file_.readAt(header_.offBlocks, map));
    ByteReader r(map);
    blockTable.clear();
    blockTable.reserve(static_cast<std::size_t>(entries));
    for (std::uint64_t i = 0; i < entries; ++i)
        blockTable.push_back(r.u32le(static_cast<std::size_t>(i * 4)));

    diskSectorCount = header_.cbDisk / kSectorSize;
    blockCount = blockTable.size();
    return true;
}

std::optional<SectorRun> FileReadSeekVdi::mapSector(std::uint64_t sector)
{
    if (blockCount == 0 || sectorsPerBlock == 0)
        return std::nullopt;
    std::uint64_t block = sector / sectorsPerBlock;
    std::uint64_t k = sector % sectorsPerBlock;
    if (block >= blockCount)
        return std::nullopt;
    std::uint64_t entry = blockTable[block];
    SectorRun run;
    run.sectors = sectorsPerBlock - k;
    // Besides a free block, VirtualBox marks blocks known to be zero.
    run.present = entry != vdi::kBlockFree && entry != vdi::kBlockZero;
    run.fileOffset = header_.offData + entry * header_.cbBlock + k * kSectorSize;
    return run;
}

} // namespace qis

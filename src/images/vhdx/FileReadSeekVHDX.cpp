#include "images/vhdx/FileReadSeekVHDX.h"

#include "images/ParentChain.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qis {

using vhdx::VhdxBlockTable;

bool FileReadSeekVHDX::open(std::filesystem::path path)
{
    if (path.native().size() > 3 && !pathEndsWith(path, "vhdx") && detectImageFormat(path) != ImageFormat::Vhdx) {
        showMessage("not a vhd file");
        return false;
    }
    imageLength = fileLength(path);
    if (!file_.open(path)) {
        showMessage("invalid handle ...");
        return false;
    }
    auto layout = vhdx::readVhdxLayout(file_);
    if (!layout) {
        showMessage(layout.message());
        return false;
    }
    layout_ = std::move(layout).value();
    auto table = vhdx::readVhdxBlockTable(file_, layout_);
    if (!table) {
        showMessage(table.message());
        return false;
    }
    VhdxBlockTable found = std::move(table).value();
    blockTable = std::move(found.blocks);
    unreadableBytes = found.unreadableBytes;
    damage = std::move(found.damage);
    if (layout_.headersDamaged)
        damage.insert(damage.begin(), vhdx::kVhdxHeadersDamaged);
    if (auto ignored = vhdx::logIgnoredMessage(layout_.log); !ignored.empty())
        damage.insert(damage.begin(), ignored);
    overlay_ = layout_.log.overlay.get();
    sectorsPerBlock = layout_.blockSize / kSectorSize;
    diskSectorCount = layout_.virtualDiskSize / kSectorSize;
    if (!layout_.hasParent())
        return true;
    zeroBlocks_ = std::move(found.zeroBlocks);
    partialBlocks_ = std::move(found.partialBlocks);
    bitmaps_.configure(layout_, std::move(found.sectorBitmaps), overlay_);
    return openParentImage(path);
}

bool FileReadSeekVHDX::openParentImage(const std::filesystem::path& path)
{
    const vhdx::ParentLocator& locator = layout_.parentLocator;
    ParentReference reference;
    for (const std::string* name : {&locator.relativePath, &locator.absoluteWin32Path, &locator.volumePath})
        if (!name->empty())
            reference.names.push_back(*name);
    reference.description = locator.parentLinkage.empty() ? "the parent VHDX" : "the VHDX " + locator.parentLinkage;
    auto parent = openParent(path, ImageFormat::Vhdx, *this, reference);
    if (!parent) {
        showMessage(parent.message());
        return false;
    }
    parent_ = std::move(parent).value();
    // A parent written to since the checkpoint was taken still holds most of
    // what the child does not; for recovery it is read on, with a warning.
    const auto* vhdxParent = dynamic_cast<const FileReadSeekVHDX*>(parent_.get());
    if (!vhdxParent)
        return true;
    const Guid parentGuid = vhdxParent->layout().dataWriteGuid;
    auto linkage = vhdx::parseGuidText(locator.parentLinkage);
    auto linkage2 = vhdx::parseGuidText(locator.parentLinkage2);
    if ((linkage && *linkage == parentGuid) || (linkage2 && *linkage2 == parentGuid))
        return true;
    if (linkage) {
        noteChangedParent(*this, "identifier");
        return true;
    }
    const std::string name = layers.size() > 1 ? layers[1].path.filename().string() : "of this image";
    damage.push_back("This differencing VHDX does not record its parent's identifier, so the parent " + name +
                     " could not be checked.");
    return true;
}

std::optional<SectorRun> FileReadSeekVHDX::mapSector(std::uint64_t sector)
{
    if (sectorsPerBlock == 0)
        return std::nullopt;
    std::uint64_t block = sector / sectorsPerBlock;
    std::uint64_t k = sector % sectorsPerBlock;
    if (block >= blockTable.size())
        return std::nullopt;
    std::uint64_t entry = blockTable[block];
    SectorRun run;
    run.sectors = sectorsPerBlock - k;
    run.present = entry != 0 && entry != vhdx::kUnreadableBlock;
    run.fileOffset = (entry + k) * kSectorSize;
    if (!parent_)
        return run;
    // A damaged entry reads as zeros, as it would without a parent: that is
    // what the damage note says of it.
    run.zeros = entry == vhdx::kUnreadableBlock || (block < zeroBlocks_.size() && zeroBlocks_[block]);
    if (run.present && block < partialBlocks_.size() && partialBlocks_[block]) {
        auto sectors = bitmaps_.presence(file_, block, k);
        run.present = sectors.inFile;
        run.sectors = std::min(run.sectors, sectors.sectors);
    }
    return run;
}

bool FileReadSeekVHDX::readReplayed(std::int64_t position, std::span<std::uint8_t> out, int& error)
{
    std::fill(out.begin(), out.end(), 0);
    if (position < 0)
        return out.empty();
    auto at = static_cast<std::uint64_t>(position);
    bool ok = true;
    std::size_t done = 0;
    while (done < out.size()) {
        auto run = mapSector(at / kSectorSize);
        if (!run)
            return false;
        const std::uint64_t within = at % kSectorSize;
        const std::uint64_t runBytes = std::max<std::uint64_t>(run->sectors, 1) * kSectorSize - within;
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(runBytes, out.size() - done));
        if (run->present) {
            int failure = 0;
            if (overlay_->readAt(file_, run->fileOffset + within, out.subspan(done, take), failure) < take) {
                ok = false;
                error = failure;
            }
        } else if (parent_ && !run->zeros && at / kSectorSize < parent_->diskSectorCount) {
            // A smaller parent leaves zeros past its end.
            const std::uint64_t inside = std::min<std::uint64_t>(take, parent_->diskSectorCount * kSectorSize - at);
            if (!parent_->readAt(at, out.subspan(done, static_cast<std::size_t>(inside)))) {
                ok = false;
                error = EIO;
            }
        }
        done += take;
        at += take;
    }
    return ok;
}

bool FileReadSeekVHDX::readAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (!overlay_)
        return BlockMappedReader::readAt(offset, out);
    std::int64_t position;
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        __builtin_add_overflow(baseOffset, static_cast<std::int64_t>(offset), &position)) {
        std::fill(out.begin(), out.end(), 0);
        return out.empty();
    }
    int error = 0; // not kept: other threads may be reading too
    return readReplayed(position, out, error);
}

bool FileReadSeekVHDX::read(void* buffer, std::uint32_t length)
{
    if (!overlay_)
        return BlockMappedReader::read(buffer, length);
    std::int64_t position;
    int error = 0;
    bool ok;
    std::span<std::uint8_t> out(static_cast<std::uint8_t*>(buffer), length);
    if (__builtin_add_overflow(baseOffset, currentOffset, &position)) {
        std::fill(out.begin(), out.end(), 0);
        ok = length == 0;
    } else {
        ok = readReplayed(position, out, error);
    }
    if (!ok)
        lastError_ = error;
    // As every block-mapped reader: whole sectors advance, a partial one does not.
    currentOffset += static_cast<std::int64_t>(length / kSectorSize * kSectorSize);
    if (!__builtin_add_overflow(baseOffset, currentOffset, &position) && position >= 0)
        if (auto run = mapSector(static_cast<std::uint64_t>(position) / kSectorSize))
            blockPresent = run->present || (parent_ && !run->zeros);
    return ok;
}

int FileReadSeekVHDX::storedAt(std::uint64_t offset, std::uint64_t length, std::uint64_t& fileOffset,
                               std::uint64_t& run)
{
    int fd = BlockMappedReader::storedAt(offset, length, fileOffset, run);
    if (fd < 0 || !overlay_)
        return fd;
    // A run the parent holds is the parent's file, which this log does not cover.
    std::int64_t position;
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        __builtin_add_overflow(baseOffset, static_cast<std::int64_t>(offset), &position) || position < 0)
        return -1;
    if (auto first = mapSector(static_cast<std::uint64_t>(position) / kSectorSize); !first || !first->present)
        return fd;
    // Only what the log left as it is in the file can be copied from it.
    std::uint64_t inFile = file_.size() > fileOffset ? file_.size() - fileOffset : 0;
    std::uint64_t end = overlay_->firstOverlaid(fileOffset, std::min(run, inFile));
    if (end <= fileOffset)
        return -1;
    run = end - fileOffset;
    return fd;
}

} // namespace qis

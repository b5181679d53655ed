#include "images/vhd/FileReadSeekVHD.h"

#include "images/ParentChain.h"
#include "images/vhd/VhdParent.h"
#include "util/CheckedMath.h"

#include <cstdio>

namespace qis {
namespace {

constexpr std::uint64_t kUnusedEntry = 0xFFFFFFFFu;

// A unique id as the 16 bytes are stored, in the usual 8-4-4-4-12 grouping.
std::string idText(const std::array<std::uint8_t, 16>& id)
{
    std::string text;
    char hex[3];
    for (std::size_t i = 0; i < id.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        std::snprintf(hex, sizeof hex, "%02x", id[i]);
        text += hex;
    }
    return text;
}

} // namespace

bool FileReadSeekVHD::open(std::filesystem::path path)
{
    if (path.native().size() > 3 && !pathEndsWith(path, "vhd") && detectImageFormat(path) != ImageFormat::Vhd) {
        showMessage("Not a vhd file");
        return false;
    }
    parent_.reset();
    imageLength = fileLength(path);
    if (!file_.open(path)) {
        showMessage("Invalid handle ...");
        return false;
    }
    auto layout = vhd::readVhdLayout(file_);
    if (!layout) {
        showMessage(layout.message());
        return false;
    }
    layout_ = std::move(layout).value();
    diskSectorCount = layout_.footer.currentSize / kSectorSize;
    blockTable.clear();
    tableEntryCount = 0;
    differencing_ = false;
    if (layout_.fixed)
        return true;

    auto table = vhd::readVhdBlockTable(file_, layout_);
    if (!table) {
        showMessage(table.message());
        return false;
    }
    blockTable = std::move(table).value();
    tableEntryCount = blockTable.size();
    sectorsPerBlock_ = layout_.blockSize / kSectorSize;
    // Each block starts with its sector bitmap, one bit per sector, padded to whole sectors.
    bitmapSectors_ = ceilDiv(ceilDiv(sectorsPerBlock_, 8), kSectorSize);
    differencing_ = layout_.footer.diskType == vhd::kDiskTypeDifferencing;
    if (!differencing_)
        return true;
    bitmaps_.reset(bitmapSectors_ * kSectorSize);
    return openParentOf(path);
}

bool FileReadSeekVHD::openParentOf(const std::filesystem::path& path)
{
    ParentReference reference;
    reference.names = vhd::parentNames(file_, layout_);
    reference.description = "the VHD with unique id " + idText(layout_.header.parentUniqueId);
    auto parent = openParent(path, ImageFormat::Vhd, *this, reference);
    if (!parent) {
        showMessage(parent.message());
        return false;
    }
    parent_ = std::move(parent).value();
    // Only a VHD parent records the id the child was made against. A parent
    // that changed since is still read: for recovery it is better than none.
    const auto* vhdParent = dynamic_cast<const FileReadSeekVHD*>(parent_.get());
    if (vhdParent != nullptr && vhdParent->layout().footer.uniqueId != layout_.header.parentUniqueId)
        noteChangedParent(*this, "identifier");
    return true;
}

std::optional<SectorRun> FileReadSeekVHD::mapSector(std::uint64_t sector)
{
    if (layout_.fixed) {
        std::uint64_t end = layout_.footer.currentSize / kSectorSize;
        if (sector >= end)
            return std::nullopt;
        return SectorRun{true, sector * kSectorSize, end - sector};
    }
    if (sectorsPerBlock_ == 0)
        return std::nullopt;
    std::uint64_t block = sector / sectorsPerBlock_;
    std::uint64_t k = sector % sectorsPerBlock_;
    if (block >= blockTable.size())
        return std::nullopt;
    std::uint64_t entry = blockTable[block];
    SectorRun run;
    run.sectors = sectorsPerBlock_ - k;
    run.present = entry != kUnusedEntry;
    run.fileOffset = (entry + bitmapSectors_ + k) * kSectorSize;
    if (!differencing_ || !run.present)
        return run;
    // In a differencing disk the bitmap says, sector by sector, which are this
    // file's; an unreadable bitmap leaves the block to this file, whose read
    // then reports the damage.
    if (auto bitmap = bitmaps_.get(file_, block, entry * kSectorSize)) {
        bool present = true;
        run.sectors = vhd::VhdSectorBitmaps::runEnd(*bitmap, k, sectorsPerBlock_, present) - k;
        run.present = present;
    }
    return run;
}

} // namespace qis

#include "images/vdi/FileReadSeekVdi.h"

#include "images/ParentChain.h"
#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <array>

namespace qis {
namespace {

// The header of the VDI at `path`, or nullopt when it is not one. Only the
// first sector is read: candidates for a parent are many and untrusted.
std::optional<vdi::VdiHeader> headerOf(const std::filesystem::path& path)
{
    ImageFile file;
    if (!file.open(path))
        return std::nullopt;
    std::array<std::uint8_t, vdi::kHeaderSize> bytes{};
    auto h = vdi::VdiHeader::parse(std::span(bytes).first(file.readAt(0, bytes)));
    if (h.signature != vdi::kSignature)
        return std::nullopt;
    return h;
}

} // namespace

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
    return !header_.differencing() || openParentImage(path);
}

bool FileReadSeekVdi::openParentImage(const std::filesystem::path& path)
{
    // A snapshot stores no path, only its parent's creation UUID; the parent
    // is the VDI that carries it, beside the snapshot or a folder above it
    // (where snapshots are kept in a folder of their own).
    ParentReference reference;
    reference.identifies = [linkage = header_.uuidLinkage](const std::filesystem::path& candidate) {
        auto h = headerOf(candidate);
        return h && h->uuidCreate == linkage;
    };
    reference.description = vdi::uuidText(header_.uuidLinkage);
    auto parent = openParent(path, ImageFormat::Vdi, *this, reference);
    if (!parent) {
        showMessage(parent.message());
        return false;
    }
    parent_ = std::move(parent).value();
    noteParentIdentity();
    return true;
}

void FileReadSeekVdi::noteParentIdentity()
{
    // Only a VDI parent records the UUIDs to compare; one the user named that
    // is of another kind is taken on trust.
    if (layers.size() < 2)
        return;
    auto h = headerOf(layers[1].path);
    if (!h)
        return;
    const std::string name = layers[1].path.filename().string();
    // A snapshot that recorded no modification UUID has nothing to compare it with.
    const bool changed = header_.uuidParentModify != Guid{} && h->uuidModify != header_.uuidParentModify;
    if (h->uuidCreate != header_.uuidLinkage)
        noteChangedParent(*this, "UUID");
    else if (changed)
        damage.push_back("The parent " + name +
                         " was changed after this snapshot was taken (its modification UUID differs); sectors "
                         "it holds may have changed since.");
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
    // Besides a free block (in a snapshot: the parent's), VirtualBox marks
    // blocks known to be zero, which a snapshot uses over a parent's data.
    run.present = entry != vdi::kBlockFree && entry != vdi::kBlockZero;
    run.zeros = entry == vdi::kBlockZero;
    run.fileOffset = header_.offData + entry * header_.cbBlock + k * kSectorSize;
    return run;
}

} // namespace qis

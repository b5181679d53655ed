#include "filesystems/hfsplus/HfsVolumeView.h"
#include "filesystems/VolumeBoundSink.h"
#include "util/CheckedMath.h"

namespace qis {

const HfsEntry* HfsVolumeView::find(EntryHandle entry) const
{
    return entry > static_cast<EntryHandle>(INT64_MAX) ? nullptr : volume_.entry(static_cast<std::int64_t>(entry));
}

std::vector<EntryHandle> HfsVolumeView::topLevel() const
{
    auto top = volume_.topLevelEntries();
    return {top.begin(), top.end()};
}

EntryHandle HfsVolumeView::firstChild(EntryHandle entry) const
{
    const HfsEntry* e = find(entry);
    return e && e->firstChild > 0 ? static_cast<EntryHandle>(e->firstChild) : kNoEntry;
}

EntryHandle HfsVolumeView::nextSibling(EntryHandle entry) const
{
    const HfsEntry* e = find(entry);
    return e && e->nextSibling > 0 ? static_cast<EntryHandle>(e->nextSibling) : kNoEntry;
}

std::u16string HfsVolumeView::name(EntryHandle entry) const
{
    const HfsEntry* e = find(entry);
    if (!e)
        return {};
    // The catalog keeps a name's ':' as '/' (the Mac's old separator); shown
    // the other way round, as the Mac's own POSIX layer does.
    std::u16string n = e->name;
    for (char16_t& c : n)
        if (c == u'/')
            c = u':';
        else if (c == u':')
            c = u'/';
    return n;
}

bool HfsVolumeView::isFolder(EntryHandle entry) const
{
    const HfsEntry* e = find(entry);
    return e && e->isFolder();
}

std::optional<std::uint64_t> HfsVolumeView::entryNumber(EntryHandle entry) const
{
    const HfsEntry* e = find(entry);
    if (!e || (volume_.orphanKey >= 0 && static_cast<std::int64_t>(entry) == volume_.orphanKey))
        return std::nullopt;
    return e->nodeId;
}

bool HfsVolumeView::isDeleted(EntryHandle entry) const
{
    const HfsEntry* e = find(entry);
    return e && e->deleted;
}

Recoverability HfsVolumeView::recoverability(EntryHandle entry)
{
    return find(entry) ? volume_.recoverability(static_cast<std::int64_t>(entry)) : Recoverability::Live;
}

EntryDetails HfsVolumeView::describe(EntryHandle entry)
{
    return find(entry) ? volume_.describeEntry(static_cast<std::int64_t>(entry)) : EntryDetails{};
}

bool HfsVolumeView::saveEntry(EntryHandle entry, DataSink& out)
{
    return find(entry) && saveWithinVolume(out, volume_.volumeSize, [&](DataSink& bounded) {
               return volume_.saveEntryContents(static_cast<std::int64_t>(entry), bounded);
           });
}

void HfsVolumeView::rename(EntryHandle entry, std::u16string name)
{
    if (entry <= static_cast<EntryHandle>(INT64_MAX)) {
        auto it = volume_.entryMap.find(static_cast<std::int64_t>(entry));
        if (it != volume_.entryMap.end())
            it->second.name = std::move(name);
    }
}

// The data fork's first extent from the catalog record: block 0 holds the
// volume header, so no fork starts there.
std::optional<std::uint64_t> HfsVolumeView::firstDataByte(EntryHandle entry)
{
    const HfsEntry* e = find(entry);
    if (!e || e->type != 2 || e->size == 0 || e->extents.empty() || e->extents.front().startBlock == 0 ||
        e->extents.front().blockCount == 0)
        return std::nullopt;
    return checkedMul(e->extents.front().startBlock, volume_.blockSize);
}

} // namespace qis

#include "filesystems/ext/ExtVolumeView.h"
#include "filesystems/VolumeBoundSink.h"

#include "util/Utf.h"
#include "util/Windows1252.h"

namespace qis {

std::u16string extNameText(const std::string& bytes)
{
    if (auto text = utf8ToUtf16(bytes))
        return *text;
    return windows1252ToUtf16(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

const ExtEntry* ExtVolumeView::find(EntryHandle entry) const
{
    if (entry > static_cast<EntryHandle>(INT64_MAX))
        return nullptr;
    return volume_.entry(static_cast<std::int64_t>(entry));
}

std::vector<EntryHandle> ExtVolumeView::topLevel() const
{
    auto top = volume_.topLevelEntries();
    return {top.begin(), top.end()};
}

EntryHandle ExtVolumeView::firstChild(EntryHandle entry) const
{
    const ExtEntry* e = find(entry);
    return e && e->firstChild >= 0 ? static_cast<EntryHandle>(e->firstChild) : kNoEntry;
}

EntryHandle ExtVolumeView::nextSibling(EntryHandle entry) const
{
    const ExtEntry* e = find(entry);
    return e && e->nextSibling >= 0 ? static_cast<EntryHandle>(e->nextSibling) : kNoEntry;
}

std::u16string ExtVolumeView::name(EntryHandle entry) const
{
    const ExtEntry* e = find(entry);
    return e ? extNameText(e->name) : std::u16string();
}

std::string ExtVolumeView::nameUtf8(EntryHandle entry) const
{
    const ExtEntry* e = find(entry);
    if (!e)
        return {};
    return isWellFormedUtf8(e->name) ? e->name : utf16ToUtf8(extNameText(e->name));
}

bool ExtVolumeView::isDeleted(EntryHandle entry) const
{
    const ExtEntry* e = find(entry);
    return e && e->deleted;
}

std::optional<std::uint64_t> ExtVolumeView::entryNumber(EntryHandle entry) const
{
    const ExtEntry* e = find(entry);
    if (!e || (volume_.orphanKey >= 0 && e->key == volume_.orphanKey))
        return std::nullopt;
    return std::uint64_t{e->inodeIndex} + 1;
}

bool ExtVolumeView::isFolder(EntryHandle entry) const
{
    const ExtEntry* e = find(entry);
    return e && (e->mode & extdisk::kTypeMask) == extdisk::kDirectory;
}

EntryDetails ExtVolumeView::describe(EntryHandle entry)
{
    return find(entry) ? volume_.describeEntry(static_cast<std::int64_t>(entry)) : EntryDetails{};
}

EntryDetails ExtVolumeView::details(EntryHandle entry)
{
    return find(entry) ? volume_.describeEntry(static_cast<std::int64_t>(entry), false) : EntryDetails{};
}

Recoverability ExtVolumeView::recoverability(EntryHandle entry)
{
    return find(entry) ? volume_.recoverabilityOf(static_cast<std::int64_t>(entry)) : Recoverability::Live;
}

bool ExtVolumeView::saveEntry(EntryHandle entry, DataSink& out)
{
    return find(entry) && saveWithinVolume(out, volume_.volumeSize, [&](DataSink& bounded) {
               return volume_.saveEntryContents(static_cast<std::int64_t>(entry), bounded);
           });
}

void ExtVolumeView::rename(EntryHandle entry, std::u16string name)
{
    if (entry < volume_.entryMap.size())
        volume_.entryMap[entry].name = utf16ToUtf8(name);
}

std::optional<std::uint64_t> ExtVolumeView::firstDataByte(EntryHandle entry)
{
    return find(entry) ? volume_.firstDataByteOf(static_cast<std::int64_t>(entry)) : std::nullopt;
}

} // namespace qis

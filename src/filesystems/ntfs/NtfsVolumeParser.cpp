#include "filesystems/ntfs/NtfsVolumeParser.h"
#include "filesystems/VolumeBoundSink.h"

#include "filesystems/DisplayText.h"
#include "util/CheckedMath.h"

namespace qis {

using namespace ntfsdisk;

std::vector<EntryHandle> NtfsVolumeParser::topLevel() const
{
    auto top = parser_.topLevelEntries();
    return {top.begin(), top.end()};
}

EntryHandle NtfsVolumeParser::link(std::int64_t position) const
{
    if (position <= 0 || static_cast<std::uint64_t>(position) >= parser_.entryList.size())
        return kNoEntry;
    return static_cast<EntryHandle>(position);
}

EntryHandle NtfsVolumeParser::firstChild(EntryHandle entry) const
{
    return entry < parser_.entryList.size() ? link(parser_.entryList[entry].firstChild) : kNoEntry;
}

EntryHandle NtfsVolumeParser::nextSibling(EntryHandle entry) const
{
    return entry < parser_.entryList.size() ? link(parser_.entryList[entry].nextSibling) : kNoEntry;
}

std::u16string NtfsVolumeParser::name(EntryHandle entry) const
{
    if (entry >= parser_.entryList.size() || !parser_.entryList[entry].name)
        return {};
    return *parser_.entryList[entry].name;
}

bool NtfsVolumeParser::isFolder(EntryHandle entry) const
{
    return entry < parser_.entryList.size() && parser_.entryList[entry].isFolder();
}

bool NtfsVolumeParser::isDeleted(EntryHandle entry) const
{
    return entry < parser_.entryList.size() && parser_.entryList[entry].isDeleted();
}

std::u16string NtfsVolumeParser::outputName(EntryHandle entry) const
{
    return trimBlanks(name(entry));
}

bool NtfsVolumeParser::skipOnSave(EntryHandle entry) const { return name(entry) == u"$BadClus"; }

bool NtfsVolumeParser::saveEntry(EntryHandle entry, DataSink& out)
{
    return saveWithinVolume(out, parser_.volumeSize,
                            [&](DataSink& bounded) { return parser_.saveEntry(entry, bounded); });
}

void NtfsVolumeParser::rename(EntryHandle entry, std::u16string name)
{
    if (entry < parser_.entryList.size())
        parser_.entryList[entry].name = std::move(name);
}

EntryDetails NtfsVolumeParser::describe(EntryHandle entry)
{
    EntryDetails d;
    if (entry >= parser_.entryList.size() || static_cast<std::int64_t>(entry) == parser_.orphanIndex)
        return d;
    std::array<std::uint8_t, kRecordSize> record{};
    parser_.readRecordFixed(parser_.entryList[entry].recordOffset, record);
    if (!RecordHeader::parse(record).signatureOk)
        return d;
    std::uint32_t fileNameFlags = 0;
    bool sizeTaken = false;
    for (const AttributeHeader& a : walkAttributes(record)) {
        if (a.type == kAttrStandardInformation && a.nonResident == 0) {
            if (auto si = StandardInformation::parse(residentValue(record, a))) {
                d.creation = filetimeToUnix(si->creationTime);
                d.access = filetimeToUnix(si->accessTime);
                d.modification = filetimeToUnix(si->modificationTime);
                d.change = filetimeToUnix(si->mftChangeTime);
                d.creationText = formatTimeText(si->creationTime);
                d.accessText = formatTimeText(si->accessTime);
                d.modificationText = formatTimeText(si->modificationTime);
            }
        } else if (a.type == kAttrFileName && a.nonResident == 0) {
            if (auto fn = FileNameValue::parse(residentValue(record, a)))
                fileNameFlags = fn->flags;
        } else if (a.type == kAttrData && !a.isNamed() && !sizeTaken) {
            // A resident file's size is its value's length.
            d.size = a.nonResident ? a.dataSize : a.valueLength;
            sizeTaken = true;
        } else if (a.type == kAttrAttributeList && !sizeTaken) {
            d.size = parser_.dataStream(entry).dataSize; // the data is in extension records
            sizeTaken = true;
        }
    }
    d.sizeText = formatSizeText(static_cast<std::int64_t>(d.size));
    d.attributeText = attributeText(fileNameFlags & 0xFFFF);
    return d;
}

// The first run of the unnamed $DATA attribute: a freed record keeps its
// run list, so where a deleted file's data began is still written there.
std::optional<std::uint64_t> NtfsVolumeParser::firstDataByte(EntryHandle entry)
{
    if (entry >= parser_.entryList.size() || static_cast<std::int64_t>(entry) == parser_.orphanIndex ||
        parser_.entryList[entry].isFolder() || parser_.bytesPerCluster == 0)
        return std::nullopt;
    const ntfs::DataStream stream = parser_.dataStream(entry);
    if (!stream.found || stream.resident || stream.dataSize == 0 || stream.runs.empty() ||
        stream.runs.front().sparse)
        return std::nullopt;
    return checkedMul(stream.runs.front().lcn, parser_.bytesPerCluster);
}

} // namespace qis

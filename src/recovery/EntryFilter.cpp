#include "recovery/EntryFilter.h"

#include "util/Ascii.h"

#include <algorithm>

namespace qis {

bool EntryFilter::asksFiles() const
{
    return !extensions.empty() || minSize || maxSize || modifiedAfter || modifiedBefore;
}

bool EntryFilter::keepsName(const std::string& nameUtf8) const
{
    if (extensions.empty())
        return true;
    const std::size_t dot = nameUtf8.rfind('.');
    if (dot == std::string::npos)
        return false;
    const std::string extension = toLowerAscii(nameUtf8.substr(dot + 1));
    return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

bool EntryFilter::keepsSize(std::uint64_t size) const
{
    return (!minSize || size >= *minSize) && (!maxSize || size <= *maxSize);
}

bool EntryFilter::keeps(VolumeParser& parser, EntryHandle entry) const
{
    const bool deleted = parser.isDeleted(entry);
    if ((deletedOnly && !deleted) || (liveOnly && deleted))
        return false;
    if (!asksFiles())
        return true;
    if (parser.isFolder(entry) || !keepsName(parser.nameUtf8(entry)))
        return false;
    if (!minSize && !maxSize && !modifiedAfter && !modifiedBefore)
        return true;
    const EntryDetails d = parser.details(entry);
    if (!keepsSize(d.size))
        return false;
    if (modifiedAfter || modifiedBefore) {
        if (!d.modification)
            return false;
        const std::int64_t t = d.modification->seconds;
        if ((modifiedAfter && t < *modifiedAfter) || (modifiedBefore && t >= *modifiedBefore))
            return false;
    }
    return true;
}

} // namespace qis

#include "support/TreeListing.h"

#include "filesystems/EntryWalk.h"
#include "util/DataSink.h"
#include "util/Utf.h"

namespace qis::test {
namespace {

std::string joined(const std::vector<std::u16string>& path)
{
    std::string line;
    for (const auto& part : path)
        line += (line.empty() ? "" : "/") + utf16ToUtf8(part);
    return line;
}

} // namespace

std::vector<std::string> treeListing(const VolumeParser& parser)
{
    std::vector<std::string> lines;
    walkTree(parser, [&](EntryHandle e, const std::vector<std::u16string>& path) {
        lines.push_back(joined(path) + (parser.isFolder(e) ? "/" : "") + (parser.isDeleted(e) ? " (deleted)" : ""));
    });
    return lines;
}

EntryHandle findTreeEntry(const VolumeParser& parser, const std::string& wanted)
{
    EntryHandle found = kNoEntry;
    walkTree(parser, [&](EntryHandle e, const std::vector<std::u16string>& path) {
        if (found == kNoEntry && joined(path) == wanted)
            found = e;
    });
    return found;
}

std::vector<std::uint8_t> savedContents(VolumeParser& parser, const std::string& path, bool* complete)
{
    MemorySink sink(1 << 26);
    bool ok = parser.saveEntry(findTreeEntry(parser, path), sink);
    if (complete)
        *complete = ok;
    return sink.bytes;
}

} // namespace qis::test

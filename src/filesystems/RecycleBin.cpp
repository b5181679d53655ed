#include "filesystems/RecycleBin.h"

#include "util/ByteReader.h"
#include "util/DataSink.h"

#include <map>
#include <unordered_set>

namespace qis {
namespace {

// $I files are a few hundred bytes; a version-2 path may be 32 767 units.
constexpr std::size_t kMaxInfoBytes = 64 * 1024 + 28;

std::vector<EntryHandle> childrenOf(const VolumeParser& parser, EntryHandle folder)
{
    std::vector<EntryHandle> list;
    std::unordered_set<EntryHandle> seen;
    for (EntryHandle c = parser.firstChild(folder); c != kNoEntry && seen.insert(c).second; c = parser.nextSibling(c))
        list.push_back(c);
    return list;
}

} // namespace

std::optional<std::u16string> recycledOriginalPath(std::span<const std::uint8_t> info)
{
    ByteReader r(info);
    std::uint64_t version = r.u64le(0);
    std::size_t at = 24;
    std::size_t units = 260;
    if (version == 2) {
        units = r.u32le(24);
        at = 28;
    }
    if (!r.has(at, 2))
        return std::nullopt;
    std::u16string path;
    for (std::size_t i = 0; i < units && r.has(at + 2 * i, 2); ++i) {
        char16_t c = static_cast<char16_t>(r.u16le(at + 2 * i));
        if (c == 0)
            break;
        path.push_back(c);
    }
    if (path.empty())
        return std::nullopt;
    return path;
}

std::size_t restoreRecycleBinNames(VolumeParser& parser)
{
    std::size_t renamed = 0;
    for (EntryHandle bin : parser.topLevel()) {
        std::u16string binName = parser.name(bin);
        if (!parser.isFolder(bin) || (binName != u"$RECYCLE.BIN" && binName != u"$RECYCLEBIN"))
            continue;
        for (EntryHandle user : childrenOf(parser, bin)) {
            if (!parser.isFolder(user))
                continue;
            std::map<std::u16string, std::u16string> formerNames;
            auto files = childrenOf(parser, user);
            for (EntryHandle info : files) {
                std::u16string name = parser.name(info);
                if (parser.isFolder(info) || name.rfind(u"$I", 0) != 0)
                    continue;
                // Read in memory: no scratch file that others could see or replace.
                MemorySink contents(kMaxInfoBytes);
                parser.saveEntry(info, contents);
                auto path = recycledOriginalPath(contents.bytes);
                if (!path)
                    continue;
                std::size_t slash = path->rfind(u'\\');
                std::u16string former = slash == std::u16string::npos ? *path : path->substr(slash + 1);
                if (!former.empty())
                    formerNames[name] = former;
            }
            for (const auto& [infoName, former] : formerNames) {
                std::u16string dataName = u"$R" + infoName.substr(2);
                for (EntryHandle data : files)
                    if (parser.name(data) == dataName) {
                        parser.rename(data, former);
                        ++renamed;
                    }
            }
        }
    }
    return renamed;
}

} // namespace qis

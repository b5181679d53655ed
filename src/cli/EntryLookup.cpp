#include "cli/EntryLookup.h"

#include "cli/ListedName.h"
#include "filesystems/EntryWalk.h"

#include <charconv>

namespace qis::cli {

std::optional<EntryHandle> findTreePath(const VolumeParser& parser, const std::string& path)
{
    std::vector<std::string> parts = listedPathParts(path);
    if (parts.empty())
        return kNoEntry;
    std::vector<EntryHandle> level = parser.topLevel();
    EntryHandle found = kNoEntry;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        found = kNoEntry;
        for (EntryHandle e : level)
            if (parser.nameUtf8(e) == parts[i]) {
                found = e;
                break;
            }
        if (found == kNoEntry)
            return std::nullopt;
        level.clear();
        std::size_t guard = 0;
        for (EntryHandle c = parser.firstChild(found); c != kNoEntry && guard++ < 10'000'000; c = parser.nextSibling(c))
            level.push_back(c);
    }
    return found;
}

std::vector<NumberedEntry> findEntryNumber(const VolumeParser& parser, std::uint64_t number)
{
    std::vector<NumberedEntry> found;
    walkTree(parser, [&](EntryHandle e, const std::vector<std::u16string>& path) {
        if (parser.entryNumber(e) != number)
            return;
        std::string joined;
        for (const std::u16string& part : path)
            joined += (joined.empty() ? "" : "/") + utf16ToUtf8(part);
        found.push_back({e, joined});
    });
    return found;
}

bool entryNumbersFrom(const std::vector<std::string>& values, std::vector<std::uint64_t>& numbers, std::string& why)
{
    for (const std::string& v : values) {
        std::uint64_t n = 0;
        auto [rest, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
        if (ec != std::errc() || rest != v.data() + v.size() || v.empty()) {
            why = "--entry takes an entry number as list prints it, not \"" + v + "\"";
            return false;
        }
        numbers.push_back(n);
    }
    return true;
}

} // namespace qis::cli

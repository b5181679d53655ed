#include "recovery/NameSearch.h"

#include "filesystems/EntryWalk.h"
#include "recovery/FolderSave.h"
#include "util/Utf.h"

namespace qis {
namespace {

// Names are at most 255 UTF-16 units, which keeps the backtracking matcher's
// recursion shallow; longer (damaged) names are cut for matching.
constexpr std::size_t kMaxMatchedLength = 1024;

std::wstring wide(const std::u16string& s)
{
    std::wstring w;
    w.reserve(s.size());
    for (std::size_t i = 0; i < s.size() && w.size() < kMaxMatchedLength; ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        w.push_back(static_cast<wchar_t>(c));
    }
    return w;
}

std::wstring wideFromUtf8(const std::string& s)
{
    // Patterns come from the command line or a text box: UTF-8.
    std::wstring w;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp = c;
        std::size_t n = 1;
        if (c >= 0xF0 && i + 3 < s.size()) {
            cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
            n = 4;
        } else if (c >= 0xE0 && i + 2 < s.size()) {
            cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            n = 3;
        } else if (c >= 0xC0 && i + 1 < s.size()) {
            cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            n = 2;
        }
        w.push_back(static_cast<wchar_t>(cp));
        i += n;
    }
    return w;
}

} // namespace

std::optional<std::wregex> NameSearch::compile(const std::string& pattern, std::string* why)
{
    try {
        return std::wregex(wideFromUtf8(pattern), std::regex::ECMAScript | std::regex::icase);
    } catch (const std::regex_error& e) {
        if (why)
            *why = e.what();
        return std::nullopt;
    }
}

bool NameSearch::matches(const std::wregex& matcher, const std::u16string& name)
{
    try {
        return std::regex_search(wide(name), matcher);
    } catch (const std::regex_error&) {
        return false; // a name the matcher cannot handle is no match
    }
}

void NameSearch::match(EntryHandle entry, const std::string& path, const std::wregex& matcher, JobContext& job)
{
    if (!matches(matcher, parser_.name(entry)))
        return;
    ++rows_;
    if (found_)
        found_({entry, path});
    job.reporter().setStatusText("searched file " + std::to_string(rows_));
}

void NameSearch::walk(EntryHandle folder, const std::string& path, const std::wregex& matcher, JobContext& job,
                      std::uint64_t& walked, std::size_t depth)
{
    for (EntryHandle c = parser_.firstChild(folder); c != kNoEntry; c = parser_.nextSibling(c)) {
        if (job.stopSeen(stop_))
            return;
        if (!seen_.insert(c).second)
            return; // a loop in damaged links
        job.reporter().setProgressPos(progressValue(walked));
        std::string name = utf16ToUtf8(parser_.name(c));
        if (parser_.isFolder(c)) {
            if (depth + 1 < kMaxTreeDepth)
                walk(c, name.empty() ? path : path + "/" + name, matcher, job, walked, depth + 1);
            continue;
        }
        ++walked;
        match(c, path + "/" + name, matcher, job);
    }
}

std::uint64_t NameSearch::run(const std::wregex& matcher, JobContext& job, const std::function<void(const Hit&)>& found)
{
    found_ = found;
    rows_ = 0;
    seen_.clear();
    std::atomic<bool> noStop{false};
    for (EntryHandle top : parser_.topLevel()) {
        std::string name = utf16ToUtf8(parser_.name(top));
        // A top-level folder with something in it is walked; anything else
        // is matched by its own name.
        if (parser_.isFolder(top) && parser_.firstChild(top) != kNoEntry) {
            FolderSave counter(parser_, noStop);
            std::uint64_t n = counter.countFiles(top);
            job.reporter().setProgressRange(0, progressValue(n));
            std::uint64_t walked = 0;
            seen_.insert(top);
            walk(top, name, matcher, job, walked, 0);
            job.reporter().setProgressPos(progressValue(n));
            stop_.store(false);
        } else {
            match(top, name, matcher, job);
        }
    }
    return rows_;
}

} // namespace qis

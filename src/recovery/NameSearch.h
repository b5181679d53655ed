#pragma once

#include "filesystems/VolumeParser.h"
#include "jobs/JobRunner.h"

#include <atomic>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <unordered_set>

namespace qis {

// Finding files by name: an ECMAScript regular expression, case-insensitive,
// that matches when it occurs anywhere in the name. Folders are walked
// through the parser's own links, expanded in the tree or not.
class NameSearch {
public:
    // nullopt for a pattern the grammar rejects (such as "*.jpg"), with the
    // grammar's reason in `why` when given.
    static std::optional<std::wregex> compile(const std::string& pattern, std::string* why = nullptr);

    struct Hit {
        EntryHandle entry = kNoEntry;
        std::string path; // from the top of the tree, "/"-separated
    };

    NameSearch(VolumeParser& parser, std::atomic<bool>& stopRequested) : parser_(parser), stop_(stopRequested) {}

    // Reports each match as it is found; returns the number of matches.
    // Stop ends the walk of the current top-level folder; the search goes
    // on with the next one (and clears the flag for it).
    std::uint64_t run(const std::wregex& matcher, JobContext& job, const std::function<void(const Hit&)>& found);

    [[nodiscard]] static bool matches(const std::wregex& matcher, const std::u16string& name);

private:
    void walk(EntryHandle folder, const std::string& path, const std::wregex& matcher, JobContext& job,
              std::uint64_t& walked, std::size_t depth);
    void match(EntryHandle entry, const std::string& path, const std::wregex& matcher, JobContext& job);

    VolumeParser& parser_;
    std::atomic<bool>& stop_;
    std::function<void(const Hit&)> found_;
    std::uint64_t rows_ = 0;
    std::unordered_set<EntryHandle> seen_;
};

} // namespace qis

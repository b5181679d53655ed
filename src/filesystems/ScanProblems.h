#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qis {

// Where a user can go when a scan stopped short: another recovery mode, or
// a copy of the metadata the standard scan did not use.
enum class FurtherMode { None, Advanced, Deep, BackupSuperblock };

struct ScanProblem {
    std::string what; // a sentence: what could not be read, and what that leaves out
    FurtherMode further = FurtherMode::None;
};

// What a scan could not read. A damaged volume still lists what decoded,
// but an empty or partial tree must not pass for the whole volume: the
// command line says these beside the tree and exits with "incomplete".
class ScanProblems {
public:
    // Damage repeats (every record of a zeroed table): a bounded few are
    // kept, enough to say what happened.
    static constexpr std::size_t kMost = 16;

    void add(std::string what, FurtherMode further = FurtherMode::None)
    {
        for (const ScanProblem& p : list_)
            if (p.what == what)
                return;
        if (list_.size() < kMost)
            list_.push_back({std::move(what), further});
    }
    void clear() { list_.clear(); }
    [[nodiscard]] bool empty() const { return list_.empty(); }
    [[nodiscard]] const std::vector<ScanProblem>& list() const { return list_; }

private:
    std::vector<ScanProblem> list_;
};

} // namespace qis

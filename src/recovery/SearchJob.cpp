#include "recovery/SearchJob.h"

namespace qis {

bool runSearchJob(VolumeParser& parser, std::atomic<bool>& stopRequested, const std::string& pattern,
                  JobContext& job, const std::function<void(const NameSearch::Hit&)>& found)
{
    if (!pattern.empty()) {
        auto matcher = NameSearch::compile(pattern);
        if (!matcher) {
            job.reporter().showMessage("such characters are not allowed for search.Try again with different pattern.");
            return false;
        }
        NameSearch search(parser, stopRequested);
        search.run(*matcher, job, found);
    }
    job.reporter().showMessage("Searching Finished");
    return true;
}

} // namespace qis

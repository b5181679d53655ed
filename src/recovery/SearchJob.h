#pragma once

#include "recovery/NameSearch.h"

#include <atomic>
#include <functional>
#include <string>

namespace qis {

// Search as the user starts it: an empty pattern finds nothing, a pattern
// the grammar refuses is answered with a message (and false), every other
// search ends with "Searching Finished", stopped or not.
bool runSearchJob(VolumeParser& parser, std::atomic<bool>& stopRequested, const std::string& pattern,
                  JobContext& job, const std::function<void(const NameSearch::Hit&)>& found);

} // namespace qis

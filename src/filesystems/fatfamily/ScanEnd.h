#pragma once

#include "jobs/JobRunner.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace qis {

// The texts the FAT family's scans end with: one status per top-level
// entry as it goes into the tree, the completion message, the last status.
inline void announceFilledTree(JobContext& job, const std::vector<std::uint32_t>& topLevel, const char* completed,
                               bool finish = true)
{
    char text[64];
    for (std::uint32_t i : topLevel) {
        std::snprintf(text, sizeof text, "filling entry =%u in tree ", i);
        job.reporter().setStatusText(text);
    }
    if (!finish)
        return;
    job.reporter().showMessage(completed);
    job.reporter().setStatusText("Processing done...");
}

} // namespace qis

#include "cli/CarveEntryNames.h"

#include "cli/Interrupt.h"
#include "filesystems/VolumeScan.h"
#include "jobs/JobReporter.h"
#include "recovery/carving/CarvedNames.h"

namespace qis::cli {

std::size_t nameFromDeletedEntries(myJpg& engine, const VolumeRecord& volume, readWriteInterface& reader,
                                   bool& interrupted)
{
    interrupted = false;
    std::string whyNot;
    auto scan = makeVolumeScan(volume, reader, ScanOptions{}, whyNot);
    if (!scan)
        return 0;
    // The carve's own output is what the user asked for: the scan's texts
    // and messages are not shown beside it.
    NullReporter quiet;
    DeletedStarts starts;
    {
        StopOnInterrupt interrupt(scan->stopRequested());
        JobRunner runner(quiet);
        runner.start([&](JobContext& job) {
            if (VolumeParser* parser = runVolumeScan(*scan, job))
                starts = deletedEntryStarts(*parser, scan->stopRequested());
        });
        runner.join();
        interrupted = interrupt.interrupted();
    }
    if (interrupted)
        return 0;
    return nameCarvedFiles(engine.carvedFiles, starts);
}

} // namespace qis::cli

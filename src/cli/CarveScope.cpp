#include "cli/CarveScope.h"

#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/ScannedVolume.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace qis::cli {

int limitToFreeSpace(const Arguments& args, myJpg& engine)
{
    if (args.flag("--disk"))
        return usageError("--unallocated carves the free space of a volume's file system: name a volume, not --disk");
    int exitCode = kExitFailure;
    std::unique_ptr<ScannedVolume> scanned;
    {
        CliReporter reporter;
        scanned = scanVolume(args, reporter, exitCode);
        reporter.finish();
    }
    if (!scanned)
        return exitCode;
    if (scanned->interrupted)
        return kExitStopped;
    auto space = scanned->parser->unallocatedSpace();
    if (!space) {
        std::fprintf(stderr,
                     "The %s file system of this volume does not say which of its space is free (its allocation "
                     "map could not be read), so --unallocated cannot carve only that; carve without it to search "
                     "the whole volume.\n",
                     scanned->volume.fileSystem.c_str());
        return kExitFailure;
    }
    engine.scanRuns = std::move(space);
    return kExitOk;
}

void reportFreeSpaceScanned(const myJpg& engine)
{
    if (!engine.scanRuns)
        return;
    // The free space the scan went through: all of it, or up to a stop.
    const std::uint64_t reached = std::min(engine.scannedBytes, engine.scanSize);
    std::uint64_t scanned = 0;
    for (const ByteRun& r : *engine.scanRuns)
        if (r.start < reached)
            scanned += std::min(r.end(), reached) - r.start;
    std::printf("Scanned %.1f MB of free space of %.1f MB.\n", static_cast<double>(scanned) / 1048576.0,
                static_cast<double>(engine.scanSize) / 1048576.0);
}

} // namespace qis::cli

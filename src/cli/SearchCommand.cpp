#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/FilterOptions.h"
#include "cli/Interrupt.h"
#include "cli/ListedName.h"
#include "cli/ScannedVolume.h"
#include "cli/VolumeSelection.h"
#include "recovery/NameSearch.h"
#include "recovery/SearchJob.h"

#include <cstdio>

namespace qis::cli {

int runSearch(const std::vector<std::string>& words)
{
    std::vector<std::string> flags = withFilterFlags(kVolumeFlags);
    flags.push_back("--json");
    Arguments args("search", words, withFilterValues(kVolumeValueOptions), flags);
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 2)
        return usageError("search takes one IMAGE, a volume and one PATTERN");
    const std::string pattern = args.positional()[1];
    // A pattern that cannot match is a mistake on the command line: said
    // before the image is opened and scanned, not after.
    std::string why;
    const auto filter = filterFrom(args, why);
    if (!filter)
        return usageError(why);
    if (!pattern.empty() && !NameSearch::compile(pattern, &why))
        return usageError("the search pattern \"" + pattern + "\" is not a regular expression: " + why);

    CliReporter reporter;
    int exitCode = kExitOk;
    auto scanned = scanVolume(args, reporter, exitCode);
    if (!scanned)
        return exitCode;
    VolumeParser& view = *scanned->parser;
    bool json = args.flag("--json");
    bool first = true;
    if (json)
        std::printf("[");
    bool interrupted = scanned->interrupted;
    {
        StopOnInterrupt interrupt(scanned->scan->stopRequested());
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) {
            if (!runSearchJob(view, scanned->scan->stopRequested(), pattern, job, [&](const NameSearch::Hit& hit) {
                    if (!filter->keeps(view, hit.entry))
                        return;
                    if (json)
                        std::printf("%s\n  %s", first ? "" : ",", entryJson(view, hit.entry, hit.path).c_str());
                    else
                        std::printf("%s\n", entryLine(view, hit.entry, listedJoinedPath(hit.path)).c_str());
                    first = false;
                }))
                exitCode = kExitFailure;
        });
        runner.join();
        interrupted = interrupted || interrupt.interrupted();
    }
    if (json)
        std::printf("%s]\n", first ? "" : "\n");
    reporter.finish();
    if (interrupted) {
        std::fprintf(stderr, "Stopped: what was found before is listed, the rest of the volume was not searched.\n");
        return kExitStopped;
    }
    // A search of a volume read only in part may have missed names.
    return exitCode == kExitOk ? scanned->scanExit : exitCode;
}

} // namespace qis::cli

#include "cli/Arguments.h"
#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/ListedName.h"
#include "cli/ScannedVolume.h"
#include "cli/VolumeSelection.h"
#include "recovery/SelectionSave.h"
#include "util/Utf.h"

#include <cstdio>

namespace qis::cli {
namespace {

// The entry at a tree path as `list` prints it ("Documents/notes", names
// escaped as listedName writes them), kNoEntry
// for the whole volume (an empty path), nullopt when there is none.
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

} // namespace

int runSave(const std::vector<std::string>& words)
{
    std::vector<std::string> values = kVolumeValueOptions;
    values.insert(values.end(), {"--path", "--output"});
    Arguments args(words, values, kVolumeFlags);
    if (!args.ok())
        return usageError(args.error());
    if (args.positional().size() != 1 || !args.value("--output"))
        return usageError("save takes one IMAGE, a volume and --output DIR");
    std::filesystem::path outputPath = *args.value("--output");

    CliReporter reporter;
    int exitCode = kExitOk;
    auto scanned = scanVolume(args, reporter, exitCode);
    if (!scanned)
        return exitCode;
    VolumeParser& view = *scanned->parser;
    auto target = findTreePath(view, args.value("--path").value_or(""));
    if (!target) {
        std::fprintf(stderr, "There is no %s on this volume.\n", args.value("--path")->c_str());
        return kExitFailure;
    }
    auto output = OutputFolder::open(outputPath);
    if (!output) {
        std::fprintf(stderr, "Select output folder\n");
        return kExitFailure;
    }

    std::atomic<bool> saveStopRequested{false};
    {
        StopOnInterrupt interrupt(saveStopRequested);
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) {
            auto saved = saveSelection(view, *target, *output, outputPath.string(), saveStopRequested, job);
            if (saved.totals.failed)
                exitCode = kExitFailure;
        });
        runner.join();
    }
    reporter.finish();
    // What the scan could not read was not saved either.
    return exitCode == kExitOk ? scanned->scanExit : exitCode;
}

} // namespace qis::cli

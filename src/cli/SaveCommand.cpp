#include "cli/Arguments.h"
#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/FilterOptions.h"
#include "cli/ReportOption.h"
#include "cli/EntryLookup.h"
#include "cli/Interrupt.h"
#include "cli/ListedName.h"
#include "cli/ScannedVolume.h"
#include "cli/VolumeSelection.h"
#include "recovery/SelectionSave.h"
#include "util/Utf.h"

#include <cstdio>
#include <cstring>

namespace qis::cli {
namespace {

int saveExitCode(const SelectionSaveResult& saved)
{
    const FolderSave::Totals& t = saved.totals;
    if (t.stopSeen) {
        std::fprintf(stderr, "Stopped: %llu of the %llu files were written.\n",
                     static_cast<unsigned long long>(t.files - t.failed - t.skipped),
                     static_cast<unsigned long long>(saved.filesChosen));
        return kExitStopped;
    }
    if (t.failed != 0)
        return kExitFailure;
    const auto deleted = [&](Recoverability r) { return t.deleted[static_cast<std::size_t>(r)]; };
    if (t.incomplete != 0 || deleted(Recoverability::Guessed) != 0 || deleted(Recoverability::PartlyOverwritten) != 0)
        return kExitIncomplete;
    return kExitOk;
}

} // namespace

int runSave(const std::vector<std::string>& words)
{
    std::vector<std::string> values = withFilterValues(kVolumeValueOptions);
    values.insert(values.end(), {"--path", "--output", "--report"});
    std::vector<std::string> flags = withFilterFlags(kVolumeFlags);
    flags.push_back("--skip-existing");
    Arguments args("save", words, values, flags);
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 1 || !args.value("--output"))
        return usageError("save takes one IMAGE, a volume and --output DIR");
    std::filesystem::path outputPath = *args.value("--output");
    std::string why;
    const auto filter = filterFrom(args, why);
    if (!filter)
        return usageError(why);
    ReportOption report;
    if (int exit = kExitOk; !report.read(args, exit))
        return exit;

    // A folder that cannot take the files is refused before the volume is read.
    int error = 0;
    auto output = OutputFolder::open(outputPath, &error);
    if (!output) {
        std::fprintf(stderr, "The output folder %s cannot be made or written to: %s\n", outputPath.c_str(),
                     std::strerror(error));
        return kExitFailure;
    }

    CliReporter reporter;
    int exitCode = kExitOk;
    auto scanned = scanVolume(args, reporter, exitCode);
    if (!scanned)
        return exitCode;
    if (scanned->interrupted) {
        // A listing cut short would save some files and silently leave out the rest.
        reporter.finish();
        std::fprintf(stderr, "Stopped while the volume was read: nothing was saved.\n");
        return kExitStopped;
    }
    VolumeParser& view = *scanned->parser;
    auto target = findTreePath(view, args.value("--path").value_or(""));
    if (!target) {
        std::fprintf(stderr, "There is no %s on this volume.\n", args.value("--path")->c_str());
        return kExitFailure;
    }
    std::atomic<bool> saveStopRequested{false};
    SelectionSaveResult saved;
    bool interrupted = false;
    {
        StopOnInterrupt interrupt(saveStopRequested);
        JobRunner runner(reporter);
        SaveObserver observer{report.collector(), {},
                              args.value("--path").value_or("")};
        std::function<bool(EntryHandle)> keep;
        if (!filter->empty())
            keep = [&](EntryHandle e) { return filter->keeps(view, e); };
        runner.start([&](JobContext& job) {
            saved = saveSelection(view, *target, *output, outputPath.string(), saveStopRequested, job,
                                  args.flag("--skip-existing"), observer, keep);
        });
        runner.join();
        interrupted = interrupt.interrupted();
    }
    reporter.finish();
    // A Ctrl-C the save had no file left to see still means it was stopped.
    saved.totals.stopSeen = saved.totals.stopSeen || interrupted;
    // The report says what became of each file, a stopped save's too.
    const int reported = report.write({QIS_VERSION, args.positional()[0], ReportOption::volumeNamed(args),
                                       static_cast<std::uint64_t>(scanned->volume.startSector) * 512});
    int code = saveExitCode(saved);
    if (code == kExitOk && reported != kExitOk)
        code = reported;
    // What the scan could not read was not saved either.
    return code == kExitOk ? scanned->scanExit : code;
}

} // namespace qis::cli

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

// Of two runs' exit codes, the one that says more went wrong: a stop, then
// a failure, then files incomplete.
int worseExit(int a, int b)
{
    auto rank = [](int code) { return code == kExitStopped ? 3 : code == kExitFailure ? 2 : code == kExitIncomplete ? 1 : 0; };
    return rank(b) > rank(a) ? b : a;
}

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
    values.insert(values.end(), {"--path", "--output", "--report", "--entry"});
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
    std::vector<std::uint64_t> numbers;
    if (!entryNumbersFrom(args.values("--entry"), numbers, why))
        return usageError(why);
    if (!numbers.empty() && args.value("--path"))
        return usageError("--path and --entry each choose what is saved: give one");

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
    // What is saved: the folder or file at --path (the whole volume without
    // it), or each entry --entry names, one after the other.
    std::vector<NumberedEntry> targets;
    if (numbers.empty()) {
        auto target = findTreePath(view, args.value("--path").value_or(""));
        if (!target) {
            std::fprintf(stderr, "There is no %s on this volume.\n", args.value("--path")->c_str());
            return kExitFailure;
        }
        targets.push_back({*target, args.value("--path").value_or("")});
    }
    for (std::uint64_t n : numbers) {
        auto found = findEntryNumber(view, n);
        if (found.empty()) {
            std::fprintf(stderr, "There is no entry %llu on this volume.\n", static_cast<unsigned long long>(n));
            return kExitFailure;
        }
        targets.push_back(found[0]); // a second name of the same file holds the same bytes
    }
    std::atomic<bool> saveStopRequested{false};
    int code = kExitOk;
    bool interrupted = false;
    std::function<bool(EntryHandle)> keep;
    if (!filter->empty())
        keep = [&](EntryHandle e) { return filter->keeps(view, e); };
    for (const NumberedEntry& target : targets) {
        SelectionSaveResult saved;
        {
            StopOnInterrupt interrupt(saveStopRequested);
            JobRunner runner(reporter);
            SaveObserver observer{report.collector(), [&view](EntryHandle e) { return view.entryNumber(e); },
                                  target.path};
            runner.start([&](JobContext& job) {
                saved = saveSelection(view, target.entry, *output, outputPath.string(), saveStopRequested, job,
                                      args.flag("--skip-existing"), observer, keep);
            });
            runner.join();
            interrupted = interrupted || interrupt.interrupted();
        }
        // A Ctrl-C the save had no file left to see still means it was stopped.
        saved.totals.stopSeen = saved.totals.stopSeen || interrupted;
        code = worseExit(code, saveExitCode(saved));
        if (code == kExitStopped)
            break;
    }
    reporter.finish();
    // The report says what became of each file, a stopped save's too.
    const int reported = report.write({QIS_VERSION, args.positional()[0], ReportOption::volumeNamed(args),
                                       static_cast<std::uint64_t>(scanned->volume.startSector) * 512});
    code = worseExit(code, reported);
    // What the scan could not read was not saved either.
    return code == kExitOk ? scanned->scanExit : code;
}

} // namespace qis::cli

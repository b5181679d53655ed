#include "cli/Arguments.h"
#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/Interrupt.h"
#include "volumes/DiskExport.h"

#include <cstdio>
#include <filesystem>

namespace qis::cli {

int runExport(const std::vector<std::string>& words)
{
    Arguments args("export", words, {"--output"}, {});
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 1 || !args.value("--output"))
        return usageError("export takes one IMAGE and --output PATH");

    if (!imageOpens(args.positional()[0]))
        return kExitFailure;
    WizardState state;
    chooseImage(state, args.positional()[0]);

    // A folder gets the image's name plus ".img"; anything else is the file itself.
    std::filesystem::path output = *args.value("--output");
    std::error_code ec;
    if (std::filesystem::is_directory(output, ec))
        output = exportOutputPath(output, state.imagePath);
    else if (std::filesystem::exists(output, ec)) {
        std::fprintf(stderr, "%s already exists; it is not overwritten.\n", output.c_str());
        return kExitFailure;
    }

    CliReporter reporter;
    DiskExport exporter;
    DiskExport::Result result;
    {
        StopOnInterrupt interrupt(exporter.exportStopRequested);
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) { result = exporter.run(state, output, job); });
        runner.join();
    }
    reporter.finish();
    for (const std::string& d : result.damage)
        std::fprintf(stderr, "%s: %s\n", state.imagePath.c_str(), d.c_str());

    switch (result.outcome) {
    case DiskExport::Outcome::Completed:
        std::printf("%s\n", output.c_str());
        if (result.unreadableBytes == 0)
            return kExitOk;
        std::fprintf(stderr, "%llu bytes of the disk were unreadable and are zeros in %s.\n",
                     static_cast<unsigned long long>(result.unreadableBytes), output.c_str());
        return kExitIncomplete;
    case DiskExport::Outcome::Stopped:
        std::fprintf(stderr, "Stopped: %s holds the first %llu of %llu bytes.\n", result.writtenTo.c_str(),
                     static_cast<unsigned long long>(result.bytesWritten),
                     static_cast<unsigned long long>(result.totalBytes));
        std::printf("%s\n", result.writtenTo.c_str());
        return kExitStopped;
    default:
        // The reason, with the file it concerns, was the job's last status.
        return kExitFailure;
    }
}

} // namespace qis::cli

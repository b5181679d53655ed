#include "cli/Arguments.h"
#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/ScannedVolume.h"
#include "cli/VolumeSelection.h"
#include "filesystems/VolumeScan.h"

#include <cstdio>

namespace qis::cli {
namespace {

void printList(const char* label, const std::vector<AdvancedChoices::Choice>& list, bool positions,
               const AdvancedChoices& c)
{
    std::printf("%s\n", label);
    for (const auto& choice : list) {
        if (positions)
            std::printf("  %-22s byte %llu (sector %llu)\n", choice.text.c_str(),
                        static_cast<unsigned long long>(choice.value),
                        static_cast<unsigned long long>(choice.value / 512));
        else
            std::printf("  %-22s %llu-byte clusters\n", choice.text.c_str(),
                        static_cast<unsigned long long>(c.clusterBytes(choice.value)));
    }
}

Json choiceList(const std::vector<AdvancedChoices::Choice>& list, bool positions, const AdvancedChoices& c)
{
    Json out = Json::array();
    for (const AdvancedChoices::Choice& choice : list) {
        Json item = {{"text", choice.text}};
        if (positions) {
            item["offset"] = choice.value;
        } else {
            item["value"] = choice.value;
            item["clusterBytes"] = c.clusterBytes(choice.value);
        }
        out.push_back(std::move(item));
    }
    return out;
}

// The candidates are printed all the same, but a search cut short may have
// missed the likeliest.
int stoppedExit(bool interrupted)
{
    if (!interrupted)
        return kExitOk;
    std::fprintf(stderr, "Stopped: the search did not reach the end of the volume.\n");
    return kExitStopped;
}

} // namespace

int runCandidates(const std::vector<std::string>& words)
{
    std::vector<std::string> flags = kVolumeFlags;
    flags.push_back("--json");
    Arguments args("candidates", words, kVolumeValueOptions, flags);
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 1)
        return usageError("candidates takes one IMAGE and a volume");
    int exitCode = kExitOk;
    auto scanned = prepareScan(args, exitCode, 2);
    if (!scanned)
        return exitCode;
    auto& scan = scanned->scan;
    const VolumeRecord* volume = &scanned->volume;
    const AdvancedChoices* choices = nullptr;
    bool interrupted = false;
    {
        CliReporter reporter;
        StopOnInterrupt interrupt(scan->stopRequested());
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) { choices = scan->findCandidates(job); });
        runner.join();
        reporter.finish();
        interrupted = interrupt.interrupted();
    }
    if (!choices) {
        std::fprintf(stderr, "No candidate search exists for %s volumes.\n", volume->fileSystem.c_str());
        return kExitFailure;
    }
    const AdvancedChoices& c = *choices;
    if (args.flag("--json")) {
        Json out = {{"schema", kJsonSchema},
                    {"fileSystem", volume->fileSystem},
                    {"candidateLabel", c.candidateLabel},
                    {"candidates", choiceList(c.candidates, true, c)},
                    {"clusterSizes", choiceList(c.clusterSizes, false, c)},
                    {"clusterSizeIsShift", c.clusterSizeIsShift},
                    {"heaps", choiceList(c.heaps, true, c)},
                    {"message", c.message}};
        std::printf("%s\n", jsonLine(out).c_str());
        return stoppedExit(interrupted);
    }
    printList(c.candidateLabel.c_str(), c.candidates, true, c);
    printList(c.clusterSizeIsShift ? "Sector Per Cluster : (shift: 2^N sectors per cluster)" : "Sector Per Cluster :",
              c.clusterSizes, false, c);
    if (!c.heaps.empty() || c.clusterSizeIsShift)
        printList("Heap Offset :", c.heaps, true, c);
    return stoppedExit(interrupted);
}

} // namespace qis::cli

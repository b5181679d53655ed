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

void appendList(std::string& out, const std::vector<AdvancedChoices::Choice>& list, bool positions,
                const AdvancedChoices& c)
{
    out += '[';
    for (std::size_t i = 0; i < list.size(); ++i) {
        out += i ? ", {\"text\": " : "{\"text\": ";
        appendJsonString(out, list[i].text);
        if (positions) {
            out += ", \"offset\": " + std::to_string(list[i].value);
        } else {
            out += ", \"value\": " + std::to_string(list[i].value);
            out += ", \"clusterBytes\": " + std::to_string(c.clusterBytes(list[i].value));
        }
        out += '}';
    }
    out += ']';
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
    Arguments args(words, kVolumeValueOptions, flags);
    if (!args.ok())
        return usageError(args.error());
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
        std::string out = "{\"candidateLabel\": ";
        appendJsonString(out, c.candidateLabel);
        out += ", \"candidates\": ";
        appendList(out, c.candidates, true, c);
        out += ", \"clusterSizes\": ";
        appendList(out, c.clusterSizes, false, c);
        out += c.clusterSizeIsShift ? ", \"clusterSizeIsShift\": true" : ", \"clusterSizeIsShift\": false";
        out += ", \"heaps\": ";
        appendList(out, c.heaps, true, c);
        out += ", \"message\": ";
        appendJsonString(out, c.message);
        out += "}\n";
        std::fputs(out.c_str(), stdout);
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

#include "cli/Arguments.h"
#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/VolumeSelection.h"
#include "filesystems/EntryWalk.h"
#include "filesystems/ntfs/NtfsVolumeParser.h"
#include "util/Utf.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace qis::cli {
namespace {

std::string isoTime(const std::optional<UnixTime>& t)
{
    if (!t)
        return {};
    std::time_t seconds = static_cast<std::time_t>(t->seconds);
    std::tm utc{};
    if (!gmtime_r(&seconds, &utc))
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string joinPath(const std::vector<std::u16string>& path)
{
    std::string joined;
    for (const auto& part : path) {
        if (!joined.empty())
            joined += '/';
        joined += utf16ToUtf8(part);
    }
    return joined;
}

std::string jsonTime(const std::optional<UnixTime>& t)
{
    std::string iso = isoTime(t);
    return iso.empty() ? "null" : jsonString(iso);
}

} // namespace

int runList(const std::vector<std::string>& words)
{
    std::vector<std::string> flags = kVolumeFlags;
    flags.push_back("--json");
    Arguments args(words, kVolumeValueOptions, flags);
    if (!args.ok())
        return usageError(args.error());
    if (args.positional().size() != 1)
        return usageError("list takes one IMAGE and a volume");
    WizardState state;
    if (!openImage(state, args.positional()[0]))
        return kExitFailure;
    bool usage = false;
    auto volume = selectVolume(args, state, &usage);
    if (!volume)
        return usage ? kExitUsage : kExitFailure;

    std::string label = volume->fileSystem;
    for (char& c : label)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (label != "NTFS") {
        std::fprintf(stderr, "Listing %s volumes is not available yet.\n", volume->fileSystem.c_str());
        return kExitFailure;
    }

    ntfs parser(*state.currentReader);
    parser.volumeStartSector = static_cast<std::uint64_t>(volume->startSector);
    parser.volumeSizeText = volume->sizeText.substr(0, volume->sizeText.find(' '));
    CliReporter reporter;
    {
        StopOnInterrupt interrupt(parser.stopRequested);
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) {
            parser.runScan(job);
            job.reporter().setStatusText("Processing done...");
        });
        runner.join();
    }
    reporter.finish();

    NtfsVolumeParser view(parser);
    bool json = args.flag("--json");
    bool first = true;
    if (json)
        std::printf("[");
    walkTree(view, [&](EntryHandle e, const std::vector<std::u16string>& path) {
        EntryDetails d = view.describe(e);
        bool folder = view.isFolder(e);
        std::string p = joinPath(path);
        if (json) {
            std::printf("%s\n  {\"path\": %s, \"type\": \"%s\", \"deleted\": %s, \"size\": %" PRIu64
                        ", \"ctime\": %s, \"atime\": %s, \"mtime\": %s, \"attributes\": %s}",
                        first ? "" : ",", jsonString(p).c_str(), folder ? "dir" : "file",
                        view.isDeleted(e) ? "true" : "false", d.size, jsonTime(d.creation).c_str(),
                        jsonTime(d.access).c_str(), jsonTime(d.modification).c_str(),
                        jsonString(d.attributeText).c_str());
        } else {
            std::printf("%-4s %-7s %12" PRIu64 "  %-20s %-8s %s%s\n", folder ? "dir" : "file",
                        view.isDeleted(e) ? "deleted" : "", d.size, isoTime(d.modification).c_str(),
                        d.attributeText.c_str(), p.c_str(), folder ? "/" : "");
        }
        first = false;
    });
    if (json)
        std::printf("%s]\n", first ? "" : "\n");
    return kExitOk;
}

} // namespace qis::cli

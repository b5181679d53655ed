#include "cli/ScannedVolume.h"

#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/VolumeSelection.h"
#include "filesystems/RecycleBin.h"
#include "filesystems/ntfs/NtfsVolumeParser.h"

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

std::string jsonTime(const std::optional<UnixTime>& t)
{
    std::string iso = isoTime(t);
    return iso.empty() ? "null" : jsonString(iso);
}

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

std::unique_ptr<ScannedVolume> scanVolume(const Arguments& args, CliReporter& reporter, int& exitCode)
{
    auto scanned = std::make_unique<ScannedVolume>();
    exitCode = kExitFailure;
    if (!openImage(scanned->state, args.positional()[0]))
        return nullptr;
    bool usage = false;
    auto volume = selectVolume(args, scanned->state, &usage);
    if (!volume) {
        exitCode = usage ? kExitUsage : kExitFailure;
        return nullptr;
    }
    scanned->volume = *volume;
    if (upper(volume->fileSystem) != "NTFS") {
        std::fprintf(stderr, "Reading %s volumes is not available yet.\n", volume->fileSystem.c_str());
        return nullptr;
    }
    auto parser = std::make_unique<ntfs>(*scanned->state.currentReader);
    parser->volumeStartSector = static_cast<std::uint64_t>(volume->startSector);
    parser->volumeSizeText = volume->sizeText.substr(0, volume->sizeText.find(' '));
    {
        StopOnInterrupt interrupt(parser->stopRequested);
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) {
            parser->runScan(job);
            job.reporter().showMessage("Scanning process completed.");
            job.reporter().setStatusText("Processing done...");
        });
        runner.join();
    }
    parser->stopRequested.store(false);
    scanned->parser = std::make_unique<NtfsVolumeParser>(*parser);
    scanned->ntfsParser = std::move(parser);
    restoreRecycleBinNames(*scanned->parser);
    exitCode = kExitOk;
    return scanned;
}

std::string entryJson(VolumeParser& parser, EntryHandle entry, const std::string& path)
{
    EntryDetails d = parser.describe(entry);
    char size[32];
    std::snprintf(size, sizeof size, "%" PRIu64, d.size);
    return "{\"path\": " + jsonString(path) + ", \"type\": \"" + (parser.isFolder(entry) ? "dir" : "file") +
           "\", \"deleted\": " + (parser.isDeleted(entry) ? "true" : "false") + ", \"size\": " + size +
           ", \"ctime\": " + jsonTime(d.creation) + ", \"atime\": " + jsonTime(d.access) +
           ", \"mtime\": " + jsonTime(d.modification) + ", \"attributes\": " + jsonString(d.attributeText) + "}";
}

std::string entryLine(VolumeParser& parser, EntryHandle entry, const std::string& path)
{
    EntryDetails d = parser.describe(entry);
    bool folder = parser.isFolder(entry);
    char line[128];
    std::snprintf(line, sizeof line, "%-4s %-7s %12" PRIu64 "  %-20s %-8s ", folder ? "dir" : "file",
                  parser.isDeleted(entry) ? "deleted" : "", d.size, isoTime(d.modification).c_str(),
                  d.attributeText.c_str());
    return line + path + (folder ? "/" : "");
}

} // namespace qis::cli

#include "cli/ScannedVolume.h"

#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/VolumeSelection.h"
#include "filesystems/RecycleBin.h"

#include <cinttypes>
#include <cstdio>

namespace qis::cli {
namespace {

std::string isoTime(const std::optional<UnixTime>& t)
{
    return t ? formatIsoUtc(t->seconds) : std::string();
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
    ScanOptions options;
    options.driveFormatted = args.flag("--formatted");
    if (auto mode = args.value("--mode")) {
        if (*mode == "standard") {
            options.mode = 1;
        } else if (*mode == "advanced") {
            options.mode = 2;
        } else if (*mode == "deep") {
            options.mode = 3;
        } else {
            std::fprintf(stderr, "qsalvage: --mode is standard, advanced or deep\n");
            exitCode = kExitUsage;
            return nullptr;
        }
    }
    std::string whyNot;
    scanned->scan = makeVolumeScan(*volume, *scanned->state.currentReader, options, whyNot);
    if (!scanned->scan) {
        std::fprintf(stderr, "%s\n", whyNot.c_str());
        return nullptr;
    }
    bool recognised = false;
    {
        StopOnInterrupt interrupt(scanned->scan->stopRequested());
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) { recognised = scanned->scan->run(job); });
        runner.join();
    }
    if (!recognised)
        return nullptr;
    scanned->scan->stopRequested().store(false);
    scanned->parser = &scanned->scan->view();
    restoreRecycleBinNames(*scanned->parser);
    exitCode = kExitOk;
    return scanned;
}

std::string entryJson(VolumeParser& parser, EntryHandle entry, const std::string& path)
{
    std::string out;
    appendEntryJson(out, parser, entry, path);
    return out;
}

void appendEntryJson(std::string& out, VolumeParser& parser, EntryHandle entry, const std::string& path)
{
    EntryDetails d = parser.details(entry);
    auto time = [&](const std::optional<UnixTime>& t) {
        char iso[21];
        if (t && formatIsoUtc(t->seconds, iso))
            (out += '"', out.append(iso, 20), out += '"');
        else
            out += "null";
    };
    out += "{\"path\": ";
    appendJsonString(out, path);
    out += parser.isFolder(entry) ? ", \"type\": \"dir\"" : ", \"type\": \"file\"";
    out += parser.isDeleted(entry) ? ", \"deleted\": true" : ", \"deleted\": false";
    out += ", \"size\": ";
    out += std::to_string(d.size);
    out += ", \"ctime\": ";
    time(d.creation);
    out += ", \"atime\": ";
    time(d.access);
    out += ", \"mtime\": ";
    time(d.modification);
    out += ", \"attributes\": ";
    appendJsonString(out, d.attributeText);
    out += '}';
}

std::string entryLine(VolumeParser& parser, EntryHandle entry, const std::string& path)
{
    EntryDetails d = parser.details(entry);
    bool folder = parser.isFolder(entry);
    char line[128];
    std::snprintf(line, sizeof line, "%-4s %-7s %12" PRIu64 "  %-20s %-8s ", folder ? "dir" : "file",
                  parser.isDeleted(entry) ? "deleted" : "", d.size, isoTime(d.modification).c_str(),
                  d.attributeText.c_str());
    return line + path + (folder ? "/" : "");
}

} // namespace qis::cli

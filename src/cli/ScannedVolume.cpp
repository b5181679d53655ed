#include "cli/ScannedVolume.h"

#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/VolumeSelection.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <optional>

namespace qis::cli {
namespace {

std::string isoTime(const std::optional<UnixTime>& t)
{
    return t ? formatIsoUtc(t->seconds) : std::string();
}

bool number(const Arguments& args, const char* name, std::uint64_t& out, std::uint64_t most)
{
    auto text = args.value(name);
    if (!text)
        return true;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), out);
    if (error != std::errc() || end != text->data() + text->size() || out > most) {
        std::fprintf(stderr, "qsalvage: %s takes a number up to %llu\n", name, static_cast<unsigned long long>(most));
        return false;
    }
    return true;
}

const char* furtherText(FurtherMode further)
{
    switch (further) {
    case FurtherMode::Advanced:
        return "qsalvage candidates shows the layouts found on the volume, and --mode advanced reads it with them.";
    case FurtherMode::Deep: return "--mode deep searches the whole volume for what is left of its records.";
    case FurtherMode::BackupSuperblock:
        return "A backup superblock, one block group in, keeps its own copy of the group descriptors "
               "(e2fsck -b reads the volume with it).";
    case FurtherMode::None: break;
    }
    return nullptr;
}

// Says on stderr what the scan could not read, and how far the tree goes.
int reportProblems(const ScannedVolume& scanned)
{
    const auto& problems = scanned.problems().list();
    if (problems.empty())
        return kExitOk;
    const bool nothing = scanned.parser->topLevel().empty();
    std::fprintf(stderr, nothing ? "The scan stopped early and could read nothing of this volume:\n"
                                 : "The scan stopped early: the tree below is partial.\n");
    std::vector<FurtherMode> said;
    for (const ScanProblem& p : problems)
        std::fprintf(stderr, "  %s\n", p.what.c_str());
    for (const ScanProblem& p : problems)
        if (const char* further = furtherText(p.further);
            further && std::find(said.begin(), said.end(), p.further) == said.end()) {
            said.push_back(p.further);
            std::fprintf(stderr, "%s\n", further);
        }
    return nothing ? kExitFailure : kExitIncomplete;
}

} // namespace

bool scanOptionsFrom(const Arguments& args, ScanOptions& options)
{
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
            return false;
        }
    }
    std::uint64_t candidate = 0, heap = 0, clusterSize = 0, most = 3;
    if (!number(args, "--candidate", candidate, 1u << 20) || !number(args, "--heap", heap, 1u << 20) ||
        !number(args, "--sectors-per-cluster", clusterSize, 65536) || !number(args, "--max", most, 1u << 20))
        return false;
    options.candidate = static_cast<std::size_t>(candidate);
    options.heap = static_cast<std::size_t>(heap);
    options.clusterSize = static_cast<unsigned>(clusterSize);
    options.maxFileSystems = static_cast<int>(most);
    return true;
}

std::unique_ptr<ScannedVolume> prepareScan(const Arguments& args, int& exitCode, std::optional<int> mode)
{
    auto scanned = std::make_unique<ScannedVolume>();
    exitCode = kExitFailure;
    ScanOptions& options = scanned->options;
    if (!scanOptionsFrom(args, options)) {
        exitCode = kExitUsage;
        return nullptr;
    }
    if (mode)
        options.mode = *mode;
    if (!openImage(scanned->state, args.positional()[0]))
        return nullptr;
    bool usage = false;
    auto volume = selectVolume(args, scanned->state, &usage);
    if (!volume) {
        exitCode = usage ? kExitUsage : kExitFailure;
        return nullptr;
    }
    scanned->volume = *volume;
    std::string whyNot;
    scanned->scan = makeVolumeScan(*volume, *scanned->state.currentReader, options, whyNot);
    if (!scanned->scan) {
        std::fprintf(stderr, "%s\n", whyNot.c_str());
        return nullptr;
    }
    exitCode = kExitOk;
    return scanned;
}

std::unique_ptr<ScannedVolume> scanVolume(const Arguments& args, CliReporter& reporter, int& exitCode)
{
    auto scanned = prepareScan(args, exitCode);
    if (!scanned)
        return nullptr;
    exitCode = kExitFailure;
    {
        StopOnInterrupt interrupt(scanned->scan->stopRequested());
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) { scanned->parser = runVolumeScan(*scanned->scan, job); });
        runner.join();
        scanned->interrupted = interrupt.interrupted();
    }
    if (!scanned->parser) {
        if (scanned->options.mode == 1 && scanned->scan->findsCandidates())
            std::fprintf(stderr, "The boot sector does not describe the volume. qsalvage candidates shows the "
                                 "layouts found on it, and --mode advanced reads the volume with them.\n");
        return nullptr;
    }
    scanned->scanExit = reportProblems(*scanned);
    exitCode = kExitOk;
    return scanned;
}

namespace {

// Why a listing is not the whole volume: what the scan could not read, and
// a stop before its end.
std::vector<std::string> incompleteBecause(const ScannedVolume& scanned)
{
    std::vector<std::string> why;
    for (const ScanProblem& p : scanned.problems().list())
        why.push_back(p.what);
    if (scanned.interrupted)
        why.emplace_back("Stopped before the scan reached the end of the volume.");
    return why;
}

} // namespace

std::string listJsonHead(const ScannedVolume& scanned)
{
    const auto why = incompleteBecause(scanned);
    if (why.empty())
        return "[";
    std::string out = "{\"complete\": false, \"problems\": ";
    appendJsonLine(out, Json(why));
    out += ", \"entries\": [";
    return out;
}

std::string listJsonTail(const ScannedVolume& scanned) { return incompleteBecause(scanned).empty() ? "]" : "]}"; }

std::string entryJson(VolumeParser& parser, EntryHandle entry, const std::string& path)
{
    std::string out;
    appendEntryJson(out, parser, entry, path);
    return out;
}

void appendEntryJson(std::string& out, VolumeParser& parser, EntryHandle entry, const std::string& path)
{
    appendJsonLine(out, entryObject(parser, entry, path));
}

Json entryObject(VolumeParser& parser, EntryHandle entry, const std::string& path)
{
    EntryDetails d = parser.details(entry);
    Json e = {{"path", path},
              {"type", parser.isFolder(entry) ? "dir" : "file"},
              {"deleted", parser.isDeleted(entry)},
              {"size", d.size},
              {"ctime", jsonIsoTime(d.creation)},
              {"atime", jsonIsoTime(d.access)},
              {"mtime", jsonIsoTime(d.modification)},
              {"attributes", d.attributeText}};
    if (const Recoverability r = parser.recoverability(entry); r != Recoverability::Live)
        e["recoverability"] = recoverabilityText(r);
    e["ctimeEpoch"] = jsonEpochTime(d.creation);
    e["atimeEpoch"] = jsonEpochTime(d.access);
    e["mtimeEpoch"] = jsonEpochTime(d.modification);
    const auto number = parser.entryNumber(entry);
    e["entry"] = number ? Json(*number) : Json(nullptr);
    return e;
}

std::string entryLine(VolumeParser& parser, EntryHandle entry, const std::string& path, std::string_view beforePath)
{
    EntryDetails d = parser.details(entry);
    bool folder = parser.isFolder(entry);
    const Recoverability r = parser.recoverability(entry);
    const auto number = parser.entryNumber(entry);
    char line[200];
    std::snprintf(line, sizeof line, "%-4s %10s %-7s %-18s %12" PRIu64 "  %-20s %-8s ", folder ? "dir" : "file",
                  number ? std::to_string(*number).c_str() : "-", parser.isDeleted(entry) ? "deleted" : "",
                  std::string(recoverabilityText(r)).c_str(), d.size, isoTime(d.modification).c_str(),
                  d.attributeText.c_str());
    return line + std::string(beforePath) + path + (folder ? "/" : "");
}

} // namespace qis::cli

#include "cli/Arguments.h"
#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/VolumeSelection.h"
#include "filesystems/FileSystemTable.h"
#include "filesystems/VolumeScan.h"
#include "volumes/Partition.h"

#include <algorithm>
#include <cstdio>

namespace qis::cli {
namespace {

// The note column: how the volume was found, and why it cannot be read.
std::string noteText(const VolumeRecord& v)
{
    if (v.problem.empty())
        return v.note;
    return v.note + (v.note.empty() ? "" : "; ") + "not readable: " + v.problem;
}

void printTable(const std::vector<VolumeRecord>& volumes)
{
    const char* headings[] = {"VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR", "NOTE"};
    std::size_t width[4] = {6, 11, 11, 12};
    bool notes = false;
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        width[0] = std::max(width[0], std::to_string(i).size());
        width[1] = std::max(width[1], volumes[i].fileSystem.size());
        width[2] = std::max(width[2], volumes[i].sizeText.size());
        width[3] = std::max(width[3], std::to_string(volumes[i].startSector).size());
        notes = notes || !noteText(volumes[i]).empty();
    }
    // The note column (how a volume was found when its first sector did not
    // say) is there only when some volume has one.
    auto line = [&](const std::string& index, const std::string& fs, const std::string& size, const std::string& start,
                    const std::string& note) {
        std::printf("%-*s  %-*s  %-*s  ", static_cast<int>(width[0]), index.c_str(), static_cast<int>(width[1]),
                    fs.c_str(), static_cast<int>(width[2]), size.c_str());
        if (notes && !note.empty())
            std::printf("%-*s  %s\n", static_cast<int>(width[3]), start.c_str(), note.c_str());
        else
            std::printf("%s\n", start.c_str());
    };
    line(headings[0], headings[1], headings[2], headings[3], notes ? headings[4] : "");
    for (std::size_t i = 0; i < volumes.size(); ++i)
        line(std::to_string(i), volumes[i].fileSystem, volumes[i].sizeText, std::to_string(volumes[i].startSector),
             noteText(volumes[i]));
}

void printJson(const std::vector<VolumeRecord>& volumes)
{
    std::string out = "[";
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const VolumeRecord& v = volumes[i];
        // The list's "31   MB" stays beside the figures a script reads.
        const std::string mb = sizeFigure(v.sizeText);
        Json sizeMb = nullptr;
        if (!mb.empty() && mb.find_first_not_of("0123456789") == std::string::npos && mb.size() < 18)
            sizeMb = std::stoull(mb);
        Json entry = {{"index", i},
                      {"fileSystem", v.fileSystem},
                      {"sizeText", v.sizeText},
                      {"startSector", v.startSector},
                      {"sectorCount", v.sectorCount ? Json(v.sectorCount) : Json(nullptr)},
                      {"sizeBytes", v.sectorCount && v.sectorCount <= UINT64_MAX / 512 ? Json(v.sectorCount * 512)
                                                                                        : Json(nullptr)},
                      {"sizeMb", sizeMb}};
        if (!v.volumeName.empty())
            entry["volumeName"] = v.volumeName;
        if (!v.note.empty())
            entry["note"] = v.note;
        if (!v.problem.empty()) {
            entry["readable"] = false;
            entry["problem"] = v.problem;
        }
        out += i ? ",\n  " : "\n  ";
        appendJsonLine(out, entry);
    }
    out += volumes.empty() ? "]\n" : "\n]\n";
    std::fputs(out.c_str(), stdout);
}

// A volume whose first sectors carry the marks of two file systems (one
// formatted over the other) is listed by the first; say so, and how to read
// it as the other, rather than let the pick pass unnoticed.
void noteAmbiguousVolumes(readWriteInterface& reader, const std::vector<VolumeRecord>& volumes)
{
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const VolumeRecord& v = volumes[i];
        if (v.startSector < 0 || !v.problem.empty())
            continue;
        auto accepted = probeFileSystems(reader, static_cast<std::uint64_t>(v.startSector));
        if (accepted.size() < 2)
            continue;
        std::string names;
        for (const FileSystemKind* kind : accepted)
            names += (names.empty() ? "" : " and ") + std::string(kind->label);
        std::fprintf(stderr, "Volume %zu carries the marks of %s; it is listed as %s.", i, names.c_str(),
                     v.fileSystem.c_str());
        const std::string size = sizeFigure(v.sizeText);
        for (const FileSystemKind* kind : accepted)
            if (findFileSystem(v.fileSystem) != kind)
                std::fprintf(stderr, " --start-sector %lld --fs %s --size-mb %s reads it as %s.",
                             static_cast<long long>(v.startSector), std::string(kind->label).c_str(), size.c_str(),
                             std::string(kind->label).c_str());
        std::fprintf(stderr, "\n");
    }
}

} // namespace

int runVolumes(const std::vector<std::string>& words)
{
    Arguments args("volumes", words, {"--start-sector", "--end-sector"}, {"--gpt", "--mbr", "--deep", "--no-skip", "--json"});
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 1)
        return usageError("volumes takes one IMAGE");
    bool deep = args.flag("--deep");
    if (!deep && (args.flag("--no-skip") || args.value("--start-sector") || args.value("--end-sector")))
        return usageError("--no-skip, --start-sector and --end-sector belong to --deep");

    if (args.flag("--gpt") && args.flag("--mbr"))
        return usageError("--gpt and --mbr each say how to read the partition table: give one");
    Partition partition;
    partition.skipVolumes = !args.flag("--no-skip");
    if (auto v = args.value("--start-sector"); v && !parseSector("--start-sector", *v, partition.scanStartSector))
        return kExitUsage;
    if (auto v = args.value("--end-sector"); v && !parseSector("--end-sector", *v, partition.scanEndSector))
        return kExitUsage;

    WizardState state;
    if (!openImage(state, args.positional()[0]))
        return kExitFailure;
    bool usage = false;
    partition.gptMode = readAsGpt(args, *state.currentReader, &usage);

    CliReporter reporter(stderr, true);
    bool interrupted = false;
    if (deep) {
        StopOnInterrupt interrupt(partition.stopRequested);
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) {
            searchBootSectors(*state.currentReader, partition, state.diskSectorCount, job);
            job.reporter().setStatusText("Scanned Partitions");
            job.reporter().showMessage("populated partitions....");
        });
        runner.join();
        interrupted = interrupt.interrupted();
    } else {
        reporter.setProgressRange(0, 1000);
        scanPartitionTable(*state.currentReader, partition, reporter);
        reporter.setProgressPos(1000);
    }
    reporter.setStatusText("Finished Scanning.");
    reporter.setStatusText("Select volume and click next button...");
    reporter.finish();
    for (const std::string& problem : partition.tableProblems)
        std::fprintf(stderr, "%s\n", problem.c_str());
    noteAmbiguousVolumes(*state.currentReader, partition.volumeList);

    if (args.flag("--json"))
        printJson(partition.volumeList);
    else
        printTable(partition.volumeList);
    // What was found is printed all the same, but a search cut short is
    // not the whole disk's answer.
    if (interrupted) {
        std::fprintf(stderr, "Stopped: the search for boot records did not reach the end of the disk.\n");
        return kExitStopped;
    }
    return kExitOk;
}

} // namespace qis::cli

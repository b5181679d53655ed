#include "cli/VolumeSelection.h"

#include "cli/ImageOpening.h"
#include "jobs/JobReporter.h"
#include "volumes/Partition.h"

#include <cstdio>

namespace qis::cli {

bool readAsGpt(const Arguments& args, readWriteInterface& reader, bool* usage)
{
    *usage = false;
    if (args.flag("--gpt") && args.flag("--mbr")) {
        std::fprintf(stderr, "qsalvage: --gpt and --mbr each say how to read the partition table: give one\n");
        *usage = true;
        return false;
    }
    if (args.flag("--gpt") || args.flag("--mbr"))
        return args.flag("--gpt");
    return hasProtectiveMbr(reader);
}

std::optional<VolumeRecord> selectVolume(const Arguments& args, WizardState& state, bool* usage)
{
    *usage = false;
    auto index = args.value("--volume");
    auto fs = args.value("--fs");
    if (index.has_value() == fs.has_value()) {
        std::fprintf(stderr, "qsalvage: name the volume with --volume N, or with --start-sector S --fs LABEL --size-mb M\n");
        *usage = true;
        return std::nullopt;
    }
    if (fs) {
        std::int64_t start = 0, mebibytes = 0;
        auto startText = args.value("--start-sector"), sizeText = args.value("--size-mb");
        if (!startText || !sizeText || !parseSector("--start-sector", *startText, start) ||
            !parseSector("--size-mb", *sizeText, mebibytes)) {
            if (!startText || !sizeText)
                std::fprintf(stderr, "qsalvage: a custom volume needs --start-sector and --size-mb\n");
            *usage = true;
            return std::nullopt;
        }
        return VolumeRecord{*fs, "0", std::to_string(mebibytes), start};
    }
    std::int64_t wanted = 0;
    if (!parseSector("--volume", *index, wanted)) {
        *usage = true;
        return std::nullopt;
    }
    Partition partition;
    partition.gptMode = readAsGpt(args, *state.currentReader, usage);
    if (*usage)
        return std::nullopt;
    partition.skipVolumes = !args.flag("--no-skip");
    NullReporter quiet;
    if (args.flag("--deep")) {
        PauseGate gate;
        JobContext job(quiet, gate);
        searchBootSectors(*state.currentReader, partition, state.diskSectorCount, job);
    } else {
        scanPartitionTable(*state.currentReader, partition, quiet);
    }
    if (static_cast<std::uint64_t>(wanted) >= partition.volumeList.size()) {
        std::fprintf(stderr, "There is no volume %lld on this disk (%zu found; see qsalvage volumes).\n",
                     static_cast<long long>(wanted), partition.volumeList.size());
        return std::nullopt;
    }
    const VolumeRecord& chosen = partition.volumeList[static_cast<std::size_t>(wanted)];
    if (!chosen.problem.empty()) {
        std::fprintf(stderr, "Volume %lld cannot be read: it %s.\n", static_cast<long long>(wanted),
                     chosen.problem.c_str());
        return std::nullopt;
    }
    return chosen;
}

} // namespace qis::cli

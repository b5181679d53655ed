#pragma once

#include "cli/Arguments.h"
#include "images/WizardState.h"
#include "volumes/VolumeRecord.h"

#include <optional>
#include <string>
#include <vector>

namespace qis::cli {

// The options that name a volume: --volume N (an index as `volumes` prints
// it, found with the same --gpt/--deep options) or a custom volume
// (--start-sector S --fs LABEL --size-mb M).
inline const std::vector<std::string> kVolumeValueOptions = {"--volume", "--start-sector", "--fs", "--size-mb", "--mode",
                                                             "--candidate", "--sectors-per-cluster", "--heap", "--max"};
inline const std::vector<std::string> kVolumeFlags = {"--gpt", "--mbr", "--deep", "--no-skip", "--formatted"};

// Whether the partition table is read as GPT: --gpt or --mbr when given,
// else what the disk's first sector says (a protective MBR means GPT). Both
// options together are a usage error (false, *usage set).
bool readAsGpt(const Arguments& args, readWriteInterface& reader, bool* usage);

// Finds the volume the options name on the opened disk; prints why not and
// returns nullopt (usage errors set *usage).
std::optional<VolumeRecord> selectVolume(const Arguments& args, WizardState& state, bool* usage);

} // namespace qis::cli

#pragma once

#include "images/readWriteInterface.h"
#include "recovery/carving/myJpg.h"
#include "volumes/VolumeRecord.h"

#include <cstddef>

namespace qis::cli {

// Reads the volume's file system as `list` does, quietly, and names each
// carved file that starts where a deleted entry's data began after that
// entry. Returns how many were named: none when no file system parses it.
// `interrupted` is set when Ctrl-C came during the scan (nothing is named).
std::size_t nameFromDeletedEntries(myJpg& engine, const VolumeRecord& volume, readWriteInterface& reader,
                                   bool& interrupted);

} // namespace qis::cli

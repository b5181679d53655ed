#pragma once

#include "filesystems/VolumeScan.h"

namespace qis {

// HFS+: the standard scan reads the catalog through its B-tree; any other
// mode rebuilds it from every catalog node found on the volume.
std::unique_ptr<VolumeScan> makeHfsScan(readWriteInterface& reader, const VolumeRecord& volume,
                                        const ScanOptions& options);

} // namespace qis

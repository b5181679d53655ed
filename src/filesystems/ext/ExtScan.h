#pragma once

#include "filesystems/VolumeScan.h"

namespace qis {

// ext2, ext3 and ext4 in the standard mode.
std::unique_ptr<VolumeScan> makeExtScan(readWriteInterface& reader, const VolumeRecord& volume,
                                        const ScanOptions& options);

} // namespace qis

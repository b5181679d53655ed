#pragma once

#include "filesystems/VolumeScan.h"

namespace qis {

// FAT16 and FAT32 in the standard and advanced modes.
std::unique_ptr<VolumeScan> makeFat16Scan(readWriteInterface& reader, const VolumeRecord& volume,
                                          const ScanOptions& options);
std::unique_ptr<VolumeScan> makeFat32Scan(readWriteInterface& reader, const VolumeRecord& volume,
                                          const ScanOptions& options);

} // namespace qis

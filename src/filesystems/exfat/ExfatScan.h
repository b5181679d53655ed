#pragma once

#include "filesystems/VolumeScan.h"

namespace qis {

// exFAT in the standard and advanced modes.
std::unique_ptr<VolumeScan> makeExfatScan(readWriteInterface& reader, const VolumeRecord& volume,
                                          const ScanOptions& options);

} // namespace qis

#pragma once

#include "filesystems/VolumeScan.h"

namespace qis {

// NTFS in every mode: standard, advanced (a chosen MFT copy) and deep.
std::unique_ptr<VolumeScan> makeNtfsScan(readWriteInterface& reader, const VolumeRecord& volume,
                                         const ScanOptions& options);

} // namespace qis

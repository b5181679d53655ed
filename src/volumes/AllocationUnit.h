#pragma once

#include <cstdint>
#include <span>

namespace qis {

// The allocation unit (cluster or block size, in bytes) the file system at
// the start of a volume says it uses, from its first 2048 bytes: a FAT or
// NTFS boot sector, an exFAT one, an ext superblock, an HFS+ volume header.
// 0 when none of these stands there or the size given is not a power of
// two between 512 bytes and 2 MiB.
std::uint64_t allocationUnitBytes(std::span<const std::uint8_t> start);

} // namespace qis

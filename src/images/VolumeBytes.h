#pragma once

#include "images/readWriteInterface.h"

#include <cstdint>
#include <span>

namespace qis {

// Reads bytes at a byte offset from the reader's base offset, wherever in a
// sector it falls. False when any of it could not be read (those bytes are
// zeros) or the offset is beyond what the reader can address.
bool readVolumeBytes(readWriteInterface& reader, std::uint64_t offset, std::span<std::uint8_t> out);

// The smaller of `bytes` and what lies between the reader's base offset and
// the end of the virtual disk: how far a volume can really reach, whatever
// its boot sector or the volume list claims. A damaged size field must not
// send a search through terabytes that are not there. Readers that do not
// know the disk's size leave `bytes` as it is.
[[nodiscard]] std::uint64_t withinDisk(const readWriteInterface& reader, std::uint64_t bytes);

} // namespace qis

#pragma once

#include "images/readWriteInterface.h"

#include <cstdint>
#include <span>

namespace qis {

// Reads bytes at a byte offset from the reader's base offset, wherever in a
// sector it falls. False when any of it could not be read (those bytes are
// zeros) or the offset is beyond what the reader can address.
bool readVolumeBytes(readWriteInterface& reader, std::uint64_t offset, std::span<std::uint8_t> out);

} // namespace qis

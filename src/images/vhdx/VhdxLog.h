#pragma once

#include "images/vhdx/VhdxOverlay.h"
#include "platform/ImageFile.h"
#include "util/Guid.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qis::vhdx {

// Where the current header says the log is, and whose entries belong to it.
struct LogLocation {
    Guid logGuid{};               // 0x30 LogGuid; all zeros: the log is empty
    std::uint16_t logVersion = 0; // 0x40 LogVersion
    std::uint32_t logLength = 0;  // 0x44 LogLength
    std::uint64_t logOffset = 0;  // 0x48 LogOffset
};

// What replaying the log in memory gave.
struct LogReplay {
    // The replayed file; null when there was nothing to replay or the log was ignored.
    std::shared_ptr<const VhdxOverlay> overlay;
    std::uint64_t entries = 0;     // entries of the active sequence replayed
    std::uint64_t descriptors = 0; // data and zero descriptors among them
    // Why a log that is there was not replayed; empty when it was or there was none.
    std::string ignored;
};

// Finds the active sequence of the log (the valid, consecutive entries that
// end in the highest sequence number and start where that last entry's tail
// says) and replays it over the file in memory. A log that does not hold up
// is ignored, as the format says, with the reason.
LogReplay replayVhdxLog(const ImageFile& file, const LogLocation& log);

// The largest log searched, well above the 1 MiB a log usually has.
inline constexpr std::uint64_t kMaxLogLength = 64ull << 20;

} // namespace qis::vhdx

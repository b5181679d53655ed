#pragma once

#include "images/readWriteInterface.h"
#include "recovery/carving/FileLayout.h"
#include "recovery/carving/IndirectBlocks.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qis::carve {

// One way the bytes of a file found at a start signature may lie other than
// in one run from the start.
struct CandidateLayout {
    FileLayout layout;
    // The bytes the layout is sure of; past them it only guesses.
    std::uint64_t covered = 0;
    // Sure enough to carve by even without a validator to check the bytes.
    bool unmistakable = false;
    // How far apart two pieces may lie and still be one stretch of the disk
    // that belongs to the file (its own indirect blocks between them).
    std::uint64_t metadataGap = 0;
};

// What the volume being carved tells about its files' layout, read once per
// scan from the scanned range's start.
struct ScannedVolume {
    std::optional<ExtGeometry> ext;
};
ScannedVolume readScannedVolume(readWriteInterface& reader);

// The layouts to try for a file that starts at `start`, the likeliest first;
// empty when nothing says it is not in one run. A layout never runs past
// `maxLength` bytes of file nor past `scanEnd`.
std::vector<CandidateLayout> candidateLayouts(readWriteInterface& reader, std::uint64_t start, std::uint64_t maxLength,
                                              std::uint64_t scanEnd, const ScannedVolume& volume);

// Where the scan goes on after a carved file: past its first piece and the
// pieces that follow on from it within `gap` bytes, which hold nothing but
// the file. A later piece elsewhere is not skipped to, so a file that lies
// in a fragment's gap is still found.
std::uint64_t endOfFirstStretch(const FileLayout& layout, std::uint64_t gap);

} // namespace qis::carve

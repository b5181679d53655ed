#pragma once

#include "images/readWriteInterface.h"
#include "recovery/carving/CarveValidation.h"
#include "recovery/carving/FileLayout.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qis::carve {

// How hard to look for a file's second fragment.
struct FragmentSearch {
    // The sizes the split and the gap are multiples of, tried in order: the
    // volume's cluster size when known, else 4096 then 512.
    std::vector<std::uint64_t> blockSizes{4096, 512};
    std::uint64_t maxGapBytes = 64ull << 20;
    std::uint64_t maxGapBlocks = 4096;
    // Per file: bytes read from the disk (a larger file is not looked
    // for in pieces) and (split, gap) pairs tried.
    std::uint64_t fileReadBudget = 64ull << 20;
    std::uint64_t fileCandidates = 16384;
};

// A file found in two pieces with foreign bytes between them.
struct Bifragment {
    FileLayout layout; // the two pieces, cut to the file's length
    Validated validated;
};

// Whether files with this extension (any case) can be looked for in two
// pieces: JPEG, PDF, ZIP and the documents that are ZIPs.
bool hasBifragmentStrategy(const std::u16string& extension);

// Whether a file that validated in one run still shows foreign bytes
// inside: a JPEG whose scans stop decoding before its end (the bytes
// between its pieces held no marker), a PDF whose objects are not where
// its cross-reference table says.
// `head` as for validateFile.
bool brokenInside(const std::u16string& extension, readWriteInterface& reader, std::uint64_t start,
                  std::uint64_t length, std::span<const std::uint8_t> head = {});

// Looks for the file of this kind that starts at `start` as two pieces
// within `limit` bytes: where its first piece ends (the split) and how far
// on the rest lies (the gap), both whole blocks. `budget` is what the
// whole scan may still read for this; each try takes what it reads from it.
// `oneRun` is the length the file validated to in one run, if it did.
std::optional<Bifragment> findBifragment(const std::u16string& extension, readWriteInterface& reader,
                                         std::uint64_t start, std::uint64_t limit, const FragmentSearch& search,
                                         std::uint64_t& budget, std::optional<std::uint64_t> oneRun = std::nullopt);

} // namespace qis::carve

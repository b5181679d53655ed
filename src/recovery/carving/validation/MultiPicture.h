#pragma once

#include "recovery/carving/validation/ValidationSource.h"

#include <cstdint>

namespace qis::carve::validation {

// Phones store a second picture (a depth map, a larger or smaller view)
// after the first image's EOI and list it in an APP2 "MPF" segment, whose
// offsets count from the MP header (the TIFF-style header after "MPF\0",
// at `header`). Where the last listed image that stands whole where the
// index says ends, or nullopt when the index lists none; an image the
// index points at wrongly is not taken, so a damaged index leaves the
// file ending with its first image.
std::optional<std::uint64_t> multiPictureEnd(Source& s, std::uint64_t header);

} // namespace qis::carve::validation

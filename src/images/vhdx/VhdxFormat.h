#pragma once

#include "images/ImageFormat.h"
#include "images/ImageInformation.h"

namespace qis {

// Version and size from the current header and the metadata; VHDX keeps no
// geometry. The image page accepts only a name ending in "vhdx".
ImageInformation vhdxInformation(const std::filesystem::path& path);

namespace vhdx {

// The format's row of the opener table.
ImageFormatEntry imageFormatEntry();

} // namespace vhdx
} // namespace qis

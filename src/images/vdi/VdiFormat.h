#pragma once

#include "images/ImageFormat.h"
#include "images/ImageInformation.h"

namespace qis {

// Version, legacy geometry and size from the header. The image page refuses
// a name that does not end in "vdi".
ImageInformation vdiInformation(const std::filesystem::path& path);

namespace vdi {

// The format's row of the opener table.
ImageFormatEntry imageFormatEntry();

} // namespace vdi
} // namespace qis

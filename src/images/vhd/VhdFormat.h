#pragma once

#include "images/ImageFormat.h"
#include "images/ImageInformation.h"

namespace qis {

// Version, geometry and size from the footer in force.
ImageInformation vhdInformation(const std::filesystem::path& path);

namespace vhd {

// The format's row of the opener table.
ImageFormatEntry imageFormatEntry();

} // namespace vhd
} // namespace qis

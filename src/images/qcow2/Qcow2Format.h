#pragma once

#include "images/ImageFormat.h"
#include "images/ImageInformation.h"

namespace qis {

// Version, size and cluster size from the header; a qcow2 image has no geometry.
ImageInformation qcow2Information(const std::filesystem::path& path);

namespace qcow2 {

// The format's row of the opener table.
ImageFormatEntry imageFormatEntry();

} // namespace qcow2
} // namespace qis

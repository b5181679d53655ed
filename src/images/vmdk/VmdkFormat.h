#pragma once

#include "images/ImageFormat.h"
#include "images/ImageInformation.h"

namespace qis {

// Version, geometry and size from the descriptor (embedded in a sparse
// extent, or the descriptor file itself); grain size from a sparse header.
ImageInformation vmdkInformation(const std::filesystem::path& path);

namespace vmdk {

// The format's row of the opener table.
ImageFormatEntry imageFormatEntry();

} // namespace vmdk
} // namespace qis

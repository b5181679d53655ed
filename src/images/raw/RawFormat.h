#pragma once

#include "images/ImageFormat.h"
#include "images/ImageInformation.h"

namespace qis {

// Size from the file's length; a raw disk has no version or geometry.
ImageInformation rawInformation(const std::filesystem::path& path);

namespace raw {

// The format's row of the opener table.
ImageFormatEntry imageFormatEntry();

} // namespace raw
} // namespace qis

#pragma once

#include "images/readWriteInterface.h"

#include <filesystem>
#include <memory>
#include <string_view>

namespace qis {

enum class ImageFormat { Vhdx, Vhd, Vdi, Vmdk, Raw };

std::string_view formatName(ImageFormat format);

// Tells the format from the file's own signatures; a file that carries none
// of them is taken as a raw disk.
ImageFormat detectImageFormat(const std::filesystem::path& path);

std::unique_ptr<readWriteInterface> createReader(ImageFormat format);

} // namespace qis

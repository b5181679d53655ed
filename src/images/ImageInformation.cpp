#include "images/ImageInformation.h"

namespace qis {

std::string megabytesText(std::uint64_t bytes) { return std::to_string(bytes / 1048576) + " MB"; }

ImageInformation readImageInformation(const std::filesystem::path& path, ImageFormat format)
{
    for (const ImageFormatEntry& row : imageFormatTable())
        if (row.format == format)
            return row.information(path);
    return {};
}

} // namespace qis

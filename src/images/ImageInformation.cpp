#include "images/ImageInformation.h"

namespace qis {

std::string megabytesText(std::uint64_t bytes) { return std::to_string(bytes / 1048576) + " MB"; }

bool openForInformation(const std::filesystem::path& path, ImageFormat format, ImageInformation& info,
                        ImageFile& file, const char* unopened)
{
    info.format = format;
    if (!file.open(path)) {
        if (unopened)
            info.messages.emplace_back(unopened);
        return false;
    }
    info.imageLength = file.size();
    return true;
}

ImageInformation readImageInformation(const std::filesystem::path& path, ImageFormat format)
{
    for (const ImageFormatEntry& row : imageFormatTable())
        if (row.format == format)
            return row.information(path);
    return {};
}

} // namespace qis

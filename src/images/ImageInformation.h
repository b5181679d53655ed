#pragma once

#include "images/ImageFormat.h"

#include <string>
#include <vector>

namespace qis {

// The file information the image page shows, read from the image's own
// headers (not through a reader), with the messages it raised.
struct ImageInformation {
    bool ok = false;
    ImageFormat format = ImageFormat::Raw;
    std::string fileFormatVersion; // "File Format Version:"
    std::string sizeOfHdd;         // "Size of HDD:", e.g. "128 MB"
    std::string sectorPerTrack;    // "Sector Per Track:"
    std::string head;              // "Head:"
    std::string cylinder;          // "Cylinder:"
    std::vector<std::string> messages;
    std::uint64_t diskSectorCount = 0;
    std::uint64_t imageLength = 0;
    std::uint64_t blockSize = 0; // bytes per block or grain, 0 when not blocked
    bool differencing = false;
};

ImageInformation vhdxInformation(const std::filesystem::path& path);
ImageInformation vhdInformation(const std::filesystem::path& path);
ImageInformation vdiInformation(const std::filesystem::path& path);
ImageInformation vmdkInformation(const std::filesystem::path& path);
ImageInformation rawInformation(const std::filesystem::path& path);

ImageInformation readImageInformation(const std::filesystem::path& path, ImageFormat format);

} // namespace qis

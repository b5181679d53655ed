#pragma once

#include "images/ImageFormat.h"

#include <cstdint>
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
    // What a reader would find damaged and read past (see readWriteInterface).
    std::uint64_t unreadableBytes = 0;
    std::vector<std::string> damage;
};

// What a field shows when the format has no such value.
inline constexpr char kNotAvailable[] = "N/A";

// "Size of HDD:" in whole megabytes, e.g. "128 MB".
std::string megabytesText(std::uint64_t bytes);

// Opens the image for its information: sets the format and, once the file
// is open, the image's length. False when it cannot be opened, with
// `unopened` (when given) as the message the format shows for that.
bool openForInformation(const std::filesystem::path& path, ImageFormat format, ImageInformation& info,
                        ImageFile& file, const char* unopened);

// The information of the image read as `format`, by that format's own function.
ImageInformation readImageInformation(const std::filesystem::path& path, ImageFormat format);

} // namespace qis

#include "images/raw/RawFormat.h"

#include "images/raw/FileReadSeekRaw.h"

namespace qis {

ImageInformation rawInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    ImageFile file;
    if (!openForInformation(path, ImageFormat::Raw, info, file, "Invalid handle ..."))
        return info;
    info.fileFormatVersion = info.sectorPerTrack = info.head = info.cylinder = kNotAvailable;
    info.sizeOfHdd = megabytesText(file.size());
    info.diskSectorCount = (file.size() + 511) / 512;
    info.ok = true;
    return info;
}

namespace raw {
namespace {

constexpr std::string_view kExtensions[] = {"img", "raw", "dd", "bin"};

// Any file reads as a raw disk, so this answers for every file, below any
// signature: an image whose signatures are all damaged stays readable.
ProbeStrength probe(const ProbeInput&) { return ProbeStrength::AnyFile; }

} // namespace

ImageFormatEntry imageFormatEntry()
{
    return {ImageFormat::Raw, "RAW", kExtensions, probe, newReaderOf<FileReadSeekRaw>, rawInformation};
}

} // namespace raw
} // namespace qis

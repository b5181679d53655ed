#include "images/raw/RawFormat.h"

#include "images/raw/FileReadSeekRaw.h"

namespace qis {

ImageInformation rawInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    info.format = ImageFormat::Raw;
    ImageFile file;
    if (!file.open(path)) {
        info.messages.emplace_back("Invalid handle ...");
        return info;
    }
    info.imageLength = file.size();
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

std::unique_ptr<readWriteInterface> newReader() { return std::make_unique<FileReadSeekRaw>(); }

} // namespace

ImageFormatEntry imageFormatEntry()
{
    return {ImageFormat::Raw, "RAW", kExtensions, probe, newReader, rawInformation};
}

} // namespace raw
} // namespace qis

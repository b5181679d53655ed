#include "images/vhd/VhdFormat.h"

#include "images/vhd/FileReadSeekVHD.h"
#include "images/vhd/VhdLayout.h"
#include "images/vhd/VhdParent.h"
#include "util/ByteReader.h"

namespace qis {

ImageInformation vhdInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    ImageFile file;
    if (!openForInformation(path, ImageFormat::Vhd, info, file, "Invalid handle ..."))
        return info;
    auto parsed = vhd::readVhdLayout(file);
    if (!parsed) {
        info.messages.push_back(parsed.message());
        return info;
    }
    const vhd::VhdLayout& layout = parsed.value();
    const auto& f = layout.footer;
    info.fileFormatVersion = std::to_string(f.version);
    info.sectorPerTrack = std::to_string(f.sectorsPerTrack);
    info.head = std::to_string(f.heads);
    info.cylinder = std::to_string(f.cylinders);
    info.sizeOfHdd = megabytesText(f.currentSize);
    info.diskSectorCount = f.currentSize / 512;
    info.blockSize = layout.fixed ? 0 : layout.blockSize;
    info.differencing = f.diskType == vhd::kDiskTypeDifferencing;
    if (info.differencing) {
        info.messages.emplace_back("This is a differencing VHD.");
        // What to look for when the parent is not where the image says.
        auto names = vhd::parentNames(file, layout);
        if (!names.empty())
            info.messages.push_back("Its parent is named " + names.front() + ".");
    }
    info.ok = true;
    return info;
}

namespace vhd {
namespace {

constexpr std::string_view kExtensions[] = {"vhd"};

ProbeStrength probe(const ProbeInput& input)
{
    if (ByteReader(input.head).matches(0, "conectix"))
        return ProbeStrength::Header;
    // A fixed VHD has no copy at the start: the footer at the end only.
    if (ByteReader(input.tail).matches(0, "conectix"))
        return ProbeStrength::Footer;
    return ProbeStrength::None;
}

} // namespace

ImageFormatEntry imageFormatEntry()
{
    return {ImageFormat::Vhd, "VHD", kExtensions, probe, newReaderOf<FileReadSeekVHD>, vhdInformation};
}

} // namespace vhd
} // namespace qis

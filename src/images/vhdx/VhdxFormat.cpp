#include "images/vhdx/VhdxFormat.h"

#include "images/vhdx/FileReadSeekVHDX.h"
#include "images/vhdx/VhdxLayout.h"
#include "images/vhdx/VhdxStructures.h"
#include "util/ByteReader.h"

#include <array>

namespace qis {

ImageInformation vhdxInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    info.format = ImageFormat::Vhdx;
    if (!pathEndsWith(path, "vhdx") && detectImageFormat(path) != ImageFormat::Vhdx) {
        info.messages.emplace_back("Please select valid vhdx file to continue the recovery process.");
        return info;
    }
    ImageFile file;
    if (!openForInformation(path, ImageFormat::Vhdx, info, file, "invalid handle ..."))
        return info;
    auto parsed = vhdx::readVhdxLayout(file);
    if (!parsed) {
        info.messages.push_back(parsed.message());
        return info;
    }
    const auto& layout = parsed.value();
    info.fileFormatVersion = std::to_string(layout.version);
    info.diskSectorCount = layout.virtualDiskSize / 512;
    info.sectorPerTrack = info.head = info.cylinder = kNotAvailable;
    info.sizeOfHdd = megabytesText(layout.virtualDiskSize);
    info.blockSize = layout.blockSize;
    info.differencing = layout.hasParent();
    if (info.differencing) {
        const auto& locator = layout.parentLocator;
        const std::string& parent = !locator.relativePath.empty() ? locator.relativePath
                                    : !locator.absoluteWin32Path.empty() ? locator.absoluteWin32Path
                                                                         : locator.volumePath;
        info.messages.emplace_back(parent.empty() ? "This is a differencing VHDX; it does not name its parent."
                                                  : "This is a differencing VHDX; its parent is " + parent + ".");
    }
    if (layout.headersDamaged)
        info.damage.emplace_back(vhdx::kVhdxHeadersDamaged);
    if (auto replayed = vhdx::logReplayedMessage(layout.log); !replayed.empty())
        info.messages.push_back(std::move(replayed));
    if (auto ignored = vhdx::logIgnoredMessage(layout.log); !ignored.empty())
        info.damage.push_back(std::move(ignored));
    if (auto table = vhdx::readVhdxBlockTable(file, layout)) {
        info.unreadableBytes = table.value().unreadableBytes;
        info.damage.insert(info.damage.end(), table.value().damage.begin(), table.value().damage.end());
    }
    info.ok = true;
    return info;
}

namespace vhdx {
namespace {

constexpr std::string_view kExtensions[] = {"vhdx"};

ProbeStrength probe(const ProbeInput& input)
{
    if (ByteReader(input.head).matches(0, "vhdxfile"))
        return ProbeStrength::Header;
    // A VHDX whose file identifier is damaged still has its region table signature.
    std::array<std::uint8_t, 4> regi{};
    if (input.file.readAt(kRegionTable1Offset, regi) == regi.size() && ByteReader(regi).matches(0, "regi"))
        return ProbeStrength::SecondaryStructure;
    return ProbeStrength::None;
}

} // namespace

ImageFormatEntry imageFormatEntry()
{
    return {ImageFormat::Vhdx, "VHDX", kExtensions, probe, newReaderOf<FileReadSeekVHDX>, vhdxInformation};
}

} // namespace vhdx
} // namespace qis

#include "images/ImageFormat.h"

#include "util/Ascii.h"

#include <array>

namespace qis {
namespace {

const ImageFormatEntry* findEntry(ImageFormat format)
{
    for (const ImageFormatEntry& row : imageFormatTable())
        if (row.format == format)
            return &row;
    return nullptr;
}

bool hasExtensionOf(const std::filesystem::path& path, const ImageFormatEntry& row)
{
    std::string extension = toLowerAscii(path.extension().string());
    for (std::string_view e : row.extensions)
        if (extension.size() == e.size() + 1 && std::string_view(extension).substr(1) == e)
            return true;
    return false;
}

} // namespace

std::string_view formatName(ImageFormat format)
{
    const ImageFormatEntry* row = findEntry(format);
    return row ? row->name : std::string_view{};
}

ImageFormat detectImageFormat(const std::filesystem::path& path)
{
    ImageFile file;
    std::array<std::uint8_t, 512> head{};
    std::array<std::uint8_t, 512> tail{};
    std::size_t headLength = 0;
    std::size_t tailLength = 0;
    // A file that cannot be opened is probed as empty: it is taken as a raw
    // disk, whose reader then says why it cannot be read.
    if (file.open(path)) {
        headLength = file.readAt(0, head);
        if (file.size() >= tail.size())
            tailLength = file.readAt(file.size() - tail.size(), tail);
    }
    const ProbeInput input{std::span<const std::uint8_t>(head).first(headLength),
                           std::span<const std::uint8_t>(tail).first(tailLength), file};

    const ImageFormatEntry* best = nullptr;
    ProbeStrength bestStrength = ProbeStrength::None;
    for (const ImageFormatEntry& row : imageFormatTable()) {
        ProbeStrength strength = row.probe(input);
        if (strength == ProbeStrength::None)
            continue;
        bool stronger = !best || strength > bestStrength;
        bool tieWonByName =
            best && strength == bestStrength && !hasExtensionOf(path, *best) && hasExtensionOf(path, row);
        if (stronger || tieWonByName) {
            best = &row;
            bestStrength = strength;
        }
    }
    return best ? best->format : ImageFormat::Raw;
}

std::unique_ptr<readWriteInterface> createReader(ImageFormat format)
{
    const ImageFormatEntry* row = findEntry(format);
    return row ? row->createReader() : nullptr;
}

} // namespace qis

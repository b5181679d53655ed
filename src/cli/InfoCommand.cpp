#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/Json.h"
#include "images/ImageInformation.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>

namespace qis::cli {

int runInfo(const std::vector<std::string>& words)
{
    Arguments args(words, {}, {"--json"});
    if (!args.ok())
        return usageError(args.error());
    if (args.positional().size() != 1)
        return usageError("info takes one IMAGE");
    std::filesystem::path image = args.positional()[0];

    if (!imageOpens(image))
        return kExitFailure;
    ImageFormat format = detectImageFormat(image);
    ImageInformation info = readImageInformation(image, format);
    if (!info.ok) {
        for (const auto& m : info.messages)
            std::fprintf(stderr, "%s\n", m.c_str());
        if (info.messages.empty())
            std::fprintf(stderr, "Cannot read the image information of %s\n", image.c_str());
        return kExitFailure;
    }
    std::uint64_t virtualSize = info.diskSectorCount * 512;
    if (args.flag("--json")) {
        std::printf("{\"format\": %s, \"fileFormatVersion\": %s, \"sizeOfHdd\": %s, \"sectorPerTrack\": %s, "
                    "\"head\": %s, \"cylinder\": %s, \"virtualSize\": %" PRIu64 ", \"diskSectorCount\": %" PRIu64
                    ", \"imageLength\": %" PRIu64 ", \"blockSize\": %" PRIu64 ", \"differencing\": %s, \"unreadableBytes\": %" PRIu64
                    ", \"damage\": [",
                    jsonString(formatName(format)).c_str(), jsonString(info.fileFormatVersion).c_str(),
                    jsonString(info.sizeOfHdd).c_str(), jsonString(info.sectorPerTrack).c_str(),
                    jsonString(info.head).c_str(), jsonString(info.cylinder).c_str(), virtualSize,
                    info.diskSectorCount, info.imageLength, info.blockSize, info.differencing ? "true" : "false",
                    info.unreadableBytes);
        for (std::size_t i = 0; i < info.damage.size(); ++i)
            std::printf("%s%s", i ? ", " : "", jsonString(info.damage[i]).c_str());
        std::printf("], \"messages\": [");
        for (std::size_t i = 0; i < info.messages.size(); ++i)
            std::printf("%s%s", i ? ", " : "", jsonString(info.messages[i]).c_str());
        std::printf("]}\n");
        return kExitOk;
    }
    for (const auto& m : info.messages)
        std::printf("%s\n", m.c_str());
    std::printf("Format: %s\n", std::string(formatName(format)).c_str());
    std::printf("File Format Version: %s\n", info.fileFormatVersion.c_str());
    std::printf("Size of HDD: %s\n", info.sizeOfHdd.c_str());
    std::printf("Sector Per Track: %s\n", info.sectorPerTrack.c_str());
    std::printf("Head: %s\n", info.head.c_str());
    std::printf("Cylinder: %s\n", info.cylinder.c_str());
    std::printf("Virtual size: %" PRIu64 " bytes (%" PRIu64 " sectors)\n", virtualSize, info.diskSectorCount);
    if (info.blockSize)
        std::printf("Block size: %" PRIu64 " bytes\n", info.blockSize);
    std::printf("Image file: %" PRIu64 " bytes\n", info.imageLength);
    for (const auto& d : info.damage)
        std::printf("Damage: %s\n", d.c_str());
    if (info.unreadableBytes > 0)
        std::printf("Unreadable: %" PRIu64 " bytes of the virtual disk (read as zeros)\n", info.unreadableBytes);
    return kExitOk;
}

} // namespace qis::cli

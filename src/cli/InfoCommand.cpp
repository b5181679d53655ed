#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/Json.h"
#include "images/ImageInformation.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>

namespace qis::cli {

int runInfo(const std::vector<std::string>& words)
{
    Arguments args("info", words, {}, {"--json"});
    if (auto done = args.exitNow())
        return *done;
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
    // A differencing image is shown with the chain it reads through; a parent
    // that cannot be found is said, and the exit status shows it.
    std::vector<ImageLayer> chain{ImageLayer{image, format, info.diskSectorCount * 512, info.imageLength}};
    std::string chainFailure;
    if (info.differencing) {
        WizardState state;
        chooseImage(state, image);
        if (state.openFreshReader(&chainFailure)) {
            if (!state.currentReader->layers.empty())
                chain = state.currentReader->layers;
            for (const std::string& d : state.currentReader->damage)
                if (std::find(info.damage.begin(), info.damage.end(), d) == info.damage.end())
                    info.damage.push_back(d);
        } else if (chainFailure.empty()) {
            chainFailure = "The chain of images behind " + image.filename().string() + " cannot be read.";
        }
    }
    const int status = chainFailure.empty() ? kExitOk : kExitFailure;
    std::uint64_t virtualSize = info.diskSectorCount * 512;
    if (args.flag("--json")) {
        // Geometry the format does not record is null, not the page's "N/A".
        auto count = [](const std::string& text) -> Json {
            std::uint64_t n = 0;
            for (char c : text) {
                if (c < '0' || c > '9' || n > UINT64_MAX / 10)
                    return nullptr;
                n = n * 10 + static_cast<std::uint64_t>(c - '0');
            }
            return text.empty() ? Json(nullptr) : Json(n);
        };
        Json out = {{"schema", kJsonSchema},
                    {"format", formatName(format)},
                    {"fileFormatVersion", info.fileFormatVersion},
                    {"sizeOfHdd", info.sizeOfHdd},
                    {"sectorPerTrack", count(info.sectorPerTrack)},
                    {"head", count(info.head)},
                    {"cylinder", count(info.cylinder)},
                    {"virtualSize", virtualSize},
                    {"diskSectorCount", info.diskSectorCount},
                    {"imageLength", info.imageLength},
                    {"blockSize", info.blockSize ? Json(info.blockSize) : Json(nullptr)},
                    {"differencing", info.differencing},
                    {"unreadableBytes", info.unreadableBytes},
                    {"damage", info.damage},
                    {"messages", info.messages}};
        Json layers = Json::array();
        for (const ImageLayer& layer : chain)
            layers.push_back({{"path", layer.path.string()},
                              {"format", formatName(layer.format)},
                              {"virtualSize", layer.virtualBytes},
                              {"imageLength", layer.fileBytes}});
        out["chain"] = layers;
        out["chainError"] = chainFailure.empty() ? Json(nullptr) : Json(chainFailure);
        std::printf("%s\n", jsonLine(out).c_str());
        if (!chainFailure.empty())
            std::fprintf(stderr, "%s\n", chainFailure.c_str());
        return status;
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
    if (chain.size() > 1)
        for (std::size_t i = 0; i < chain.size(); ++i)
            std::printf("%s %s: %s, virtual size %" PRIu64 " bytes, image file %" PRIu64 " bytes\n",
                        i == 0 ? "Chain:" : "   on:", chain[i].path.c_str(),
                        std::string(formatName(chain[i].format)).c_str(), chain[i].virtualBytes, chain[i].fileBytes);
    if (!chainFailure.empty())
        std::fprintf(stderr, "%s\n", chainFailure.c_str());
    return status;
}

} // namespace qis::cli

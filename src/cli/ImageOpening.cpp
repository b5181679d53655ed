#include "cli/ImageOpening.h"

#include "platform/ImageFile.h"

#include <charconv>
#include <cstdio>
#include <filesystem>

namespace qis::cli {
namespace {

std::vector<std::filesystem::path> g_parents;

} // namespace

void setParentImages(std::vector<std::filesystem::path> paths) { g_parents = std::move(paths); }

const std::vector<std::filesystem::path>& parentImages() { return g_parents; }

void chooseImage(WizardState& state, const std::filesystem::path& path)
{
    state.imagePath = path;
    state.imageFormat = detectImageFormat(path);
    state.parentPaths = g_parents;
}

bool imageOpens(const std::filesystem::path& path)
{
    ImageFile file;
    if (file.open(path))
        return true;
    std::fprintf(stderr, "qsalvage: cannot open %s: %s\n", path.c_str(),
                 openFailureReason(path, file.lastError()).c_str());
    return false;
}

void printImageDamage(const std::filesystem::path& path, const readWriteInterface& reader)
{
    for (const std::string& warning : reader.damage)
        std::fprintf(stderr, "qsalvage: %s: %s\n", path.c_str(), warning.c_str());
    if (reader.unreadableBytes > 0)
        std::fprintf(stderr, "qsalvage: %s: %llu bytes of the virtual disk are unreadable and read as zeros.\n",
                     path.c_str(), static_cast<unsigned long long>(reader.unreadableBytes));
}

bool openImage(WizardState& state, const std::string& path)
{
    // The reader's own message is the one the wizard shows ("Invalid
    // handle ..."); the command line says which file and why.
    if (!imageOpens(path))
        return false;
    chooseImage(state, path);
    std::string message;
    if (state.openFreshReader(&message)) {
        printImageDamage(state.imagePath, *state.currentReader);
        return true;
    }
    std::fprintf(stderr, "%s\n", message.empty() ? ("Cannot open " + path).c_str() : message.c_str());
    return false;
}

bool parseSector(const std::string& option, const std::string& text, std::int64_t& value)
{
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || ptr != text.data() + text.size() || value < 0) {
        std::fprintf(stderr, "qsalvage: %s needs a sector number, not \"%s\"\n", option.c_str(), text.c_str());
        return false;
    }
    return true;
}

std::string withReason(const std::string& message, const std::filesystem::path& path)
{
    const std::string reason = readFailureReason(path);
    if (reason.empty())
        return message;
    return !message.empty() && message.back() == '.' ? message + " (" + reason + ")" : message + ": " + reason;
}

} // namespace qis::cli

#include "cli/ImageOpening.h"

#include <charconv>
#include <cstdio>

namespace qis::cli {

bool openImage(WizardState& state, const std::string& path)
{
    state.imagePath = path;
    state.imageFormat = detectImageFormat(state.imagePath);
    std::string message;
    if (state.openFreshReader(&message))
        return true;
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

} // namespace qis::cli

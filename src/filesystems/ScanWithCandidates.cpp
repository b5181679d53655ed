#include "filesystems/ScanWithCandidates.h"

#include <cstdio>

namespace qis::candidates {

std::size_t wanted(const ScanOptions& options)
{
    return options.maxFileSystems < 1 ? 3 : static_cast<std::size_t>(options.maxFileSystems);
}

std::string formatted(const char* format, std::size_t a, std::size_t b)
{
    char text[256];
    std::snprintf(text, sizeof text, format, static_cast<int>(a), static_cast<int>(b));
    return text;
}

std::vector<AdvancedChoices::Choice> numbered(const char* format, const std::vector<std::uint64_t>& positions)
{
    std::vector<AdvancedChoices::Choice> out;
    for (std::size_t i = 0; i < positions.size(); ++i)
        out.push_back({formatted(format, i), positions[i]});
    return out;
}

std::vector<AdvancedChoices::Choice> sizeChoices(const std::vector<unsigned>& values)
{
    std::vector<AdvancedChoices::Choice> out;
    for (unsigned v : values)
        out.push_back({std::to_string(v), v});
    return out;
}

unsigned chosenClusterSize(const AdvancedChoices& choices, const ScanOptions& options)
{
    if (options.clusterSize != 0)
        return options.clusterSize;
    return choices.clusterSizes.empty() ? 0 : static_cast<unsigned>(choices.clusterSizes.front().value);
}

} // namespace qis::candidates

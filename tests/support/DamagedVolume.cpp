#include "support/DamagedVolume.h"

#include <stdexcept>

namespace qis::test {

std::filesystem::path damagedVolume(const FixtureVolume& volume, const std::vector<std::string>& damage,
                                    const TempDir& dir)
{
    auto copy = fixtureCopy(volume.image, dir);
    if (damage.empty())
        return copy;
    auto script = std::filesystem::path(QIS_TEST_DATA_DIR).parent_path() / "fixtures" / "damage-volume.py";
    std::string line = "python3 " + shellQuote(script.string()) + " " + shellQuote(copy.string()) + " " +
                       std::to_string(volume.startSector);
    for (const auto& word : damage)
        line += " " + shellQuote(word);
    if (auto r = runCommand(line); r.exitCode != 0)
        throw std::runtime_error("damage-volume.py failed: " + r.err);
    return copy;
}

CommandResult onVolume(const std::string& command, const std::filesystem::path& image, const FixtureVolume& volume,
                       const std::vector<std::string>& extra)
{
    std::vector<std::string> words{command, image.string(),    "--start-sector", std::to_string(volume.startSector),
                                   "--fs",  volume.fileSystem, "--size-mb",      std::to_string(volume.sizeMb)};
    words.insert(words.end(), extra.begin(), extra.end());
    return runQsalvage(words);
}

} // namespace qis::test

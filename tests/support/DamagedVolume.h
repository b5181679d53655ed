#pragma once

#include "support/Fixtures.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qis::test {

// A raw fixture disk with one volume on it, and the custom-volume options
// (--start-sector, --fs, --size-mb) that name it.
struct FixtureVolume {
    const char* image; // a raw .img fixture
    std::uint64_t startSector;
    const char* fileSystem;
    unsigned sizeMb;
};

// A private copy of the fixture with `damage` (tests/fixtures/damage-volume.py
// DAMAGE ARGUMENT...) done to the volume; an empty damage copies it unchanged.
std::filesystem::path damagedVolume(const FixtureVolume& volume, const std::vector<std::string>& damage,
                                    const TempDir& dir);

// Runs `qsalvage COMMAND IMAGE <volume options> EXTRA...`.
CommandResult onVolume(const std::string& command, const std::filesystem::path& image, const FixtureVolume& volume,
                       const std::vector<std::string>& extra = {});

} // namespace qis::test

#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qis::test {

// One line of an NTFS fixture's golden listing (tests/data/*ntfs*.manifest.txt).
struct NtfsManifestLine {
    std::string kind, state, sha, intact, mtime, properties, path;
};

// The manifest's lines; recycle-bin data files carry the names their $I
// files recorded, as qsalvage shows them.
std::vector<NtfsManifestLine> ntfsManifest(const std::string& name);

// Expects every folder and file of the manifest in `listJson` (a
// `list --json` output) with its kind and deleted state.
void expectListedAsNtfsManifest(const std::string& listJson, const std::string& manifest);

// Expects every live file and every intact deleted one under `out` with the
// bytes Sleuth Kit read, live ones with their modification time; returns
// how many files were checked.
int expectSavedAsNtfsManifest(const std::filesystem::path& out, const std::string& manifest);

} // namespace qis::test

#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qis::test {

// One entry of a FAT or exFAT fixture's golden listing (tests/data/*.manifest.txt).
struct FatManifestEntry {
    std::string kind;  // dir, file
    bool deleted = false;
    std::string path;  // as fls prints it
    std::uint64_t size = 0;
    std::string sha256;      // of what Sleuth Kit read
    std::string source;      // of what was written
    bool intact = false;
    bool contiguous = false;
    std::string mtime;       // ISO-8601 UTC
    std::string attributes;  // R, H, S, A letters, or -
    std::string properties;  // short-only, lfn=N, first=, clusters=, nofatchain, ...
    [[nodiscard]] bool has(const std::string& property) const;
    [[nodiscard]] std::uint64_t clusters() const;
};

struct FatManifest {
    std::string fileSystem, label;
    std::uint64_t startSector = 0;
    std::uint64_t clusterBytes = 0;
    std::vector<FatManifestEntry> entries;
};

FatManifest fatManifest(const std::string& name);

// The path as qsalvage shows it: a deleted entry that had only a short
// name lost its first character to the 0xE5 mark, which Sleuth Kit prints
// as '_' and Windows-1252 reads as 'å'; that holds for deleted folders in
// the path too.
std::string shownPath(const FatManifest& manifest, const std::string& path);

} // namespace qis::test

#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qis::test {

// One line of tests/data/sample-manifest.txt: what a volume of the sample
// disk held when it was made.
struct SampleEntry {
    std::string kind; // dir, file, deleted
    std::string path;
    std::uint64_t size = 0;
    std::string sha256; // files and deleted files
    std::string mtime;  // dirs and files, ISO-8601 UTC
};

// The entries of the volume in GPT slot `partition`.
std::vector<SampleEntry> sampleManifest(int partition);

} // namespace qis::test

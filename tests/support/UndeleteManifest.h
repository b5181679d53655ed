#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qis::test {

// One line of an undelete fixture's manifest (tests/data/undelete-*.manifest.txt).
struct UndeleteManifestLine {
    std::string kind;  // dir or file
    bool deleted = false;
    std::uint64_t size = 0;
    std::string sha;            // of the file as written; "-" for a folder
    std::string recoverability; // "live", "whole" or "partly overwritten"
    std::string path;
};

std::vector<UndeleteManifestLine> undeleteManifest(const std::string& name);

} // namespace qis::test

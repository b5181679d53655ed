#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace qis::test {

// One entry of `qsalvage list --json`.
struct Listed {
    std::string type;
    bool deleted = false;
    std::uint64_t size = 0;
    std::string mtime; // ISO-8601 UTC, empty for null
    std::string attributes;
    std::string recoverability; // empty for a live entry
};

// The entries of a `list --json` output by path.
std::map<std::string, Listed> parseJsonListing(const std::string& out);

} // namespace qis::test

#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qis::test {

// The numbers under one key in one list of `qsalvage candidates --json`
// ("candidates", "clusterSizes" or "heaps"; "offset", "value" or
// "clusterBytes"), in the order offered.
std::vector<std::uint64_t> offeredNumbers(const std::string& json, const std::string& list, const std::string& key);

} // namespace qis::test

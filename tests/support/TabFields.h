#pragma once

#include <string>
#include <vector>

namespace qis::test {

// The tab-separated fields of one line of a golden listing.
std::vector<std::string> tabFields(const std::string& line);

} // namespace qis::test

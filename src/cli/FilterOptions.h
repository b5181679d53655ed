#pragma once

#include "cli/Arguments.h"
#include "recovery/EntryFilter.h"

#include <optional>
#include <string>
#include <vector>

namespace qis::cli {

// --ext jpg,png  --min-size N  --max-size N  --modified-after T  --modified-before T
inline const std::vector<std::string> kFilterValueOptions = {"--ext", "--min-size", "--max-size", "--modified-after",
                                                             "--modified-before"};
// --deleted  --live
inline const std::vector<std::string> kFilterFlags = {"--deleted", "--live"};

// The filter the options ask for; nullopt (and `why` set) for a value that
// does not parse. Sizes are bytes with an optional K, M, G or T (binary);
// times are "2024-03-15", "2024-03-15T10:30:00Z" (UTC) or "@1710498600".
std::optional<EntryFilter> filterFrom(const Arguments& args, std::string& why);

// The verb's option lists with the filter's added.
std::vector<std::string> withFilterValues(std::vector<std::string> values);
std::vector<std::string> withFilterFlags(std::vector<std::string> flags);

} // namespace qis::cli

#pragma once

#include "support/FatManifest.h"
#include "support/ListingJson.h"

#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace qis::test {

// Expects `listed` (a `list --json` output) to hold every entry of the
// golden manifest with its kind, deleted state and, for files, size,
// modification time and attributes, and nothing else but `alsoListed`.
void expectListingMatchesManifest(const FatManifest& manifest, const std::map<std::string, Listed>& listed,
                                  const std::set<std::string>& alsoListed = {});

// Expects every live file of the manifest under `out` with the bytes and
// the modification time it was written with.
void expectLiveFilesSaved(const FatManifest& manifest, const std::filesystem::path& out);

} // namespace qis::test

#pragma once

#include "filesystems/VolumeParser.h"

#include <optional>
#include <string>
#include <vector>

namespace qis::cli {

// The entry at a tree path as `list` prints it ("Documents/notes", names
// escaped as listedName writes them), kNoEntry for the whole volume (an
// empty path), nullopt when there is none.
std::optional<EntryHandle> findTreePath(const VolumeParser& parser, const std::string& path);

// The entries with file-system number `number` (as list prints it), each
// with its tree path; a file with two names (hard links) is there twice.
struct NumberedEntry {
    EntryHandle entry;
    std::string path;
};
std::vector<NumberedEntry> findEntryNumber(const VolumeParser& parser, std::uint64_t number);

// "--entry 64" values as numbers; false, with `why`, for one that is not.
bool entryNumbersFrom(const std::vector<std::string>& values, std::vector<std::uint64_t>& numbers, std::string& why);

} // namespace qis::cli

#pragma once

#include "filesystems/VolumeParser.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qis {

// Which files a listing, a save or a carve keeps: deleted or live ones,
// by extension, by size and by modification time. An empty filter keeps
// everything.
struct EntryFilter {
    bool deletedOnly = false;
    bool liveOnly = false;
    std::vector<std::string> extensions; // lower case, without the dot
    std::optional<std::uint64_t> minSize, maxSize;
    // Kept: modifiedAfter <= modification time < modifiedBefore (seconds
    // since 1970); an entry without a modification time is not kept.
    std::optional<std::int64_t> modifiedAfter, modifiedBefore;

    // Whether anything beyond deleted/live is asked: then only files match.
    [[nodiscard]] bool asksFiles() const;
    [[nodiscard]] bool empty() const { return !deletedOnly && !liveOnly && !asksFiles(); }

    // Whether the entry is kept; a folder only when nothing but deleted or
    // live is asked.
    [[nodiscard]] bool keeps(VolumeParser& parser, EntryHandle entry) const;

    // The tests on a file known by name and size only (a carved file):
    // extension and size.
    [[nodiscard]] bool keepsName(const std::string& nameUtf8) const;
    [[nodiscard]] bool keepsSize(std::uint64_t size) const;
};

} // namespace qis

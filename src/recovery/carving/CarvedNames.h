#pragma once

#include "filesystems/VolumeParser.h"
#include "recovery/carving/myJpg.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qis {

// A deleted file the file-system scan found, where its data began.
struct DeletedStart {
    std::vector<std::u16string> path; // output names from the top of the tree down
    std::uint64_t size = 0;
};
// By the byte offset from the volume's start of the entry's first cluster or block.
using DeletedStarts = std::map<std::uint64_t, std::vector<DeletedStart>>;

// Every deleted file of the parsed volume whose record still says where its
// data began, but those whose data is partly another file's now (or gone).
// A Stop ends the walk with what was collected.
DeletedStarts deletedEntryStarts(VolumeParser& parser, const std::atomic<bool>& stop);

// Gives each carved file that starts exactly where a deleted entry's data
// began that entry's path: of several entries there, the first whose size
// is the carved length, else the first. Returns how many were named.
std::size_t nameCarvedFiles(std::vector<CarvedFile>& files, const DeletedStarts& starts);

// Where a carved file goes below its category folder, as safe components:
// its known path, its name given the extension the carver found unless it
// ends in it already ("holiday.jpg", "notes" -> "notes.jpg"); else, and
// for an entry without a name, its offset name ("2097152 .jpg").
std::vector<std::string> carvedOutputPath(const myJpg& engine, std::size_t index);

} // namespace qis

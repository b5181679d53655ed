#pragma once

#include "filesystems/VolumeParser.h"
#include "util/FileTime.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qis {

// What became of one file a save or carve visited.
enum class SaveStatus : std::uint8_t {
    Whole,      // written, all of its data read
    Guessed,    // written, its clusters read by a guess (deleted, no map left)
    Incomplete, // written, part of its data unreadable and written as zeros
    Present,    // there already with the same contents (skip-existing), left as it was
    NotWritten, // nothing of it is in the output; `reason` says why
};

// "whole", "guessed", "incomplete", "present", "not written".
std::string_view saveStatusText(SaveStatus status);

// Where a carved file was found: byte offsets from the first byte of the
// disk the image holds.
struct CarvedOrigin {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    // Its pieces in file order when it was found in more than one; empty
    // for a file in one run from `offset`.
    std::vector<ByteRun> pieces;
    std::string extension; // "jpg"
    std::string category;  // "Pictures"
};

// One line of a save's report: the file as the volume shows it, where it
// went and the digests of the bytes written, taken while they were written.
struct SavedFileRecord {
    std::string path; // as the tree shows it ("Documents/report.txt"); a carved file's own name
    EntryHandle handle = kNoEntry;
    std::optional<std::uint64_t> entry; // the file system's number for it (MFT record, inode), when known
    bool deleted = false;
    Recoverability recoverability = Recoverability::Live;
    std::uint64_t size = 0;
    std::optional<UnixTime> created, accessed, modified;
    std::string outputPath; // below the output folder ("Documents/report (1).txt"); empty when not written
    SaveStatus status = SaveStatus::NotWritten;
    std::string reason; // why it is not whole, or not written
    std::string md5, sha256; // lowercase hex; empty when not computed
    std::optional<CarvedOrigin> carved;
};

// Told of each file as its save ends, in the order the files are visited.
using SavedFileObserver = std::function<void(const SavedFileRecord&)>;
// The file system's number of an entry (nullopt when it has none to give).
using EntryNumberLookup = std::function<std::optional<std::uint64_t>(EntryHandle)>;

} // namespace qis

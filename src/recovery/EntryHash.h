#pragma once

#include "filesystems/VolumeParser.h"
#include "jobs/JobRunner.h"
#include "platform/OutputFolder.h"
#include "recovery/HashingSink.h"

#include <atomic>
#include <optional>
#include <string>

namespace qis {

struct EntryHash {
    FileHashes hashes;
    bool complete = false; // as VolumeParser::saveEntry says: every byte could be read
};

// The digests of the bytes a save of the entry would write (a guessed
// file's likeliest reading, unreadable parts as zeros), read but written
// nowhere. Pause and `stop` are seen between the pieces of the file;
// nullopt when Stop came first.
std::optional<EntryHash> hashEntry(VolumeParser& parser, EntryHandle entry, JobContext& job,
                                   const std::atomic<bool>& stop);

// The same outside a job.
EntryHash hashEntry(VolumeParser& parser, EntryHandle entry);

// The digests of the regular file `name` in the folder; nullopt when there
// is none or it cannot be read to its end.
std::optional<FileHashes> hashOutputFile(const OutputFolder& folder, const std::string& name);

} // namespace qis

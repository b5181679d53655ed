#pragma once

#include "images/readWriteInterface.h"
#include "platform/OutputFolder.h"
#include "jobs/JobRunner.h"
#include "recovery/SavedFileRecord.h"
#include "recovery/WriteFailures.h"
#include "recovery/carving/myJpg.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace qis {

struct CarvedSaveResult {
    // Per carved file: where it went ("Pictures/1024 .jpg"), empty when it
    // was not wanted or could not be written.
    std::vector<std::string> savedAs;
    std::size_t written = 0;
    // Written, but a piece could not be read from the image (zeros there).
    std::size_t incomplete = 0;
    // Not written: the output could not take them; nothing of them is left.
    std::size_t failed = 0;
    // "Pictures/1024 .jpg: No space left on device", per file or folder
    // not written.
    WriteFailures failures;
    // Stop was seen before every wanted file was written.
    bool stopped = false;
};

// Writes the carved files `wanted` picks into a folder per category below
// `root`, their bytes read through the reader the engine scanned, as a job:
// its progress counts the files; Pause and `stop` are seen between files
// and between the pieces of one, and the file Stop interrupts is removed,
// so every file left is whole. `stop` is cleared first: a Stop that ended
// the scan must not keep its files from being saved.
// `onFile`, when given, is told of each file begun, in the order of the
// carved files, after the last is copied, from the calling thread; the
// bytes of each are then hashed as they are written (and none is copied
// inside the system, which would pass them by). Offsets in its records
// are from the first byte of the disk (the reader's base offset added).
CarvedSaveResult saveCarvedFiles(const myJpg& engine, readWriteInterface& reader, const OutputFolder& root,
                                 const std::function<bool(std::size_t index)>& wanted, std::atomic<bool>& stop,
                                 JobContext& job, const SavedFileObserver& onFile = {});

} // namespace qis

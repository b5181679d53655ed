#pragma once

#include "filesystems/VolumeParser.h"
#include "platform/OutputFolder.h"
#include "recovery/FolderSave.h"
#include "jobs/JobRunner.h"

#include <atomic>
#include <string>

namespace qis {

// What Save does with the chosen entry, as a job: a folder's files are
// counted and the user asked before its contents are written into the
// output folder; a single file is written at once. Reports the end message
// and what became of the files. `answered` is false when the user said No.
struct SelectionSaveResult {
    FolderSave::Totals totals;
    bool answered = true;
    std::uint64_t filesChosen = 0; // the files below the chosen entry (1 for a file)
};

// Who is told of each file saved (see FolderSave::observe); without
// `onFile` nothing is hashed.
struct SaveObserver {
    SavedFileObserver onFile;
    EntryNumberLookup entryNumber;
    // The chosen entry's path as the tree shows it ("Documents" or
    // "Documents/report.txt"; empty for the whole volume): the files' paths
    // in the records start with it.
    std::string volumePath;
};

// skipExisting: see FolderSave::skipExisting; keep: see FolderSave::keepOnly.
SelectionSaveResult saveSelection(VolumeParser& parser, EntryHandle target, const OutputFolder& into,
                                  const std::string& shownPath, std::atomic<bool>& saveStopRequested,
                                  JobContext& job, bool skipExisting = false, const SaveObserver& observer = {},
                                  const std::function<bool(EntryHandle)>& keep = {});

// The line that says what became of the files of one save.
std::string saveTotalsText(const FolderSave::Totals& totals);

// "Not written: ..." with a line per file or folder the output could not
// take and why; empty when every file was written.
std::string notWrittenText(const FolderSave::Totals& totals);

} // namespace qis

#pragma once

#include "filesystems/VolumeParser.h"
#include "platform/OutputFolder.h"
#include "recovery/SavedFileRecord.h"
#include "recovery/WriteFailures.h"
#include "jobs/JobRunner.h"

#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <string>

namespace qis {

// Saving entries into an output folder, the same walk for every file
// system: folders become folders, files get their contents and times.
// Names are made safe; two entries of one name in a folder both survive.
class FolderSave {
public:
    FolderSave(VolumeParser& parser, std::atomic<bool>& saveStopRequested)
        : parser_(parser), stop_(saveStopRequested)
    {
    }

    struct Totals {
        std::uint64_t files = 0;      // files visited
        std::uint64_t incomplete = 0; // written, but part of the data could not be read
        std::uint64_t failed = 0;     // not written at all (nothing of them is left)
        std::uint64_t renamed = 0;    // written under a numbered name beside a namesake
        std::uint64_t skipped = 0;    // named but not written by design ($BadClus)
        std::uint64_t stopped = 0;    // begun when Stop came, and removed again
        std::uint64_t present = 0;    // there already, as long as on the volume, and left as it was
        bool stopSeen = false;        // Stop ended the save before its last file
        // Deleted files written, by how much of them was still there
        // (indexed by Recoverability; Live stays 0).
        std::array<std::uint64_t, kRecoverabilityCount> deleted{};
        // Guessed files whose bytes were checked against their format: a
        // whole file of their kind, or not.
        std::uint64_t guessesHolding = 0;
        std::uint64_t guessesBroken = 0;
        // Of those holding, the ones whole only when read past another
        // deleted file's clusters (the file was written around them).
        std::uint64_t guessesPieced = 0;
        // "Documents/report.txt: No space left on device", per file or
        // folder that was not written.
        WriteFailures failures;
    };

    // Files below a folder, at any depth (the top level when entry is kNoEntry).
    std::uint64_t countFiles(EntryHandle folder);

    // Writes the folder's children (the top level when folder is kNoEntry)
    // into `into`, whose path is shown as `shownPath` in the status texts.
    Totals saveFolderContents(EntryHandle folder, const OutputFolder& into, const std::string& shownPath,
                              JobContext& job);

    // Writes one file into the folder. Stop pressed before (during the scan)
    // does not count; Stop pressed while it is written removes it again.
    bool saveFile(EntryHandle file, const OutputFolder& into, const std::string& shownPath, JobContext& job,
                  Totals& totals);

    // The name the last file written was given in its folder (a numbered
    // one beside a namesake); empty when it was not written.
    [[nodiscard]] const std::string& lastSavedName() const { return lastSavedName_; }

    // A file already in the output under its own name and as long as the
    // entry is left as it is (a save run again after a stop) rather than
    // written again beside it as "name (1)".
    // When the save is observed, that check compares the contents too: the
    // file there and the entry's data are hashed, and a file that differs
    // is written again beside it.
    void skipExisting(bool skip) { skipExisting_ = skip; }

    // Tells `onFile` of each file visited from here on, as its save ends,
    // with the digests of the bytes written (taken while they are written).
    // `entryNumber` (may be empty) gives the file system's number of an
    // entry; `volumeFolder` is the path on the volume of the folder saved
    // ("Documents"; empty for the top level), or of a single file's folder.
    void observe(SavedFileObserver onFile, EntryNumberLookup entryNumber = {}, std::string volumeFolder = {});

    // Writes and counts only the files `keep` keeps (a filter); a folder is
    // made only when some file below it is kept.
    void keepOnly(std::function<bool(EntryHandle)> keep) { keep_ = std::move(keep); }

private:
    // Whether a file below the folder, at any depth, is kept; each folder
    // is looked at once a save.
    bool holdsKept(EntryHandle folder, std::size_t depth);
    bool writeFile(EntryHandle file, const OutputFolder& into, const std::string& shownPath, JobContext& job,
                   Totals& totals);
    std::vector<EntryHandle> children(EntryHandle folder) const;
    void fail(Totals& totals, std::uint64_t files, const std::string& what, int error);
    void walk(EntryHandle folder, const OutputFolder& into, const std::string& shownPath, JobContext& job,
              Totals& totals, std::size_t depth);
    // Calls `visit` with each file below the folder (at any depth) and, when
    // `withPaths`, its path below it as the tree shows it.
    void forEachFileBelow(EntryHandle folder, const std::function<void(EntryHandle, const std::string&)>& visit,
                          bool withPaths);
    // The record of a file, as far as the entry tells it.
    SavedFileRecord recordOf(EntryHandle file, const EntryDetails& details, Recoverability recoverability);
    void tell(SavedFileRecord& record, SaveStatus status, std::string reason = {});
    // Whether the file `name` in the folder holds what the entry would be
    // saved as; nullopt when Stop came while the entry was read.
    std::optional<bool> holdsSameContents(EntryHandle file, const OutputFolder& into, const std::string& name,
                                          JobContext& job, SavedFileRecord& record);

    bool skipExisting_ = false;
    std::function<bool(EntryHandle)> keep_;
    std::unordered_map<EntryHandle, bool> keptBelow_;
    VolumeParser& parser_;
    std::atomic<bool>& stop_;
    std::unordered_set<EntryHandle>* visited_ = nullptr;
    std::string lastSavedName_;
    SavedFileObserver onFile_;
    EntryNumberLookup entryNumber_;
    std::string volumeFolder_;
    // Where the walk is, below the folder saved: on the volume and in the output.
    std::string volumeDir_, outputDir_;
};

} // namespace qis

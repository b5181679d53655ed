#include "recovery/FolderSave.h"

#include "filesystems/EntryWalk.h"
#include "platform/OutputNames.h"
#include "jobs/StopAwareSink.h"
#include "recovery/EntryHash.h"
#include "recovery/GuessedFileCheck.h"
#include "recovery/HashingSink.h"

#include <cstring>
#include <optional>

namespace qis {
namespace {

std::string joined(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

// What the report says of a file whose clusters were taken in a row
// from its first, as the save checked them.
std::string guessReason(const GuessedSave& guess)
{
    switch (guess.verdict) {
    case GuessVerdict::Holds:
        return guess.reading == 0 ? "its clusters were guessed; they make a whole file of its kind"
                                  : "its clusters were guessed, read on past another deleted file's clusters, "
                                    "where they make a whole file of its kind";
    case GuessVerdict::Broken:
        return "its clusters were guessed, and they do not make a whole file of its kind";
    case GuessVerdict::Unchecked: break;
    }
    return "its clusters were guessed (taken in a row from its first); nothing checked them";
}

std::string failureText(int error)
{
    return error != 0 ? std::strerror(error) : "the output refused it";
}

} // namespace

void FolderSave::observe(SavedFileObserver onFile, EntryNumberLookup entryNumber, std::string volumeFolder)
{
    onFile_ = std::move(onFile);
    entryNumber_ = std::move(entryNumber);
    volumeFolder_ = std::move(volumeFolder);
}

std::vector<EntryHandle> FolderSave::children(EntryHandle folder) const
{
    if (folder == kNoEntry)
        return parser_.topLevel();
    std::vector<EntryHandle> list;
    std::unordered_set<EntryHandle> seen;
    for (EntryHandle c = parser_.firstChild(folder); c != kNoEntry && seen.insert(c).second; c = parser_.nextSibling(c))
        list.push_back(c);
    return list;
}

void FolderSave::forEachFileBelow(EntryHandle folder,
                                  const std::function<void(EntryHandle, const std::string&)>& visit, bool withPaths)
{
    // Counting needs no names, and reading them is not free on every file system.
    auto below = [&](const std::string& path, EntryHandle c) {
        return withPaths ? joined(path, parser_.nameUtf8(c)) : std::string();
    };
    std::unordered_set<EntryHandle> seen;
    struct Pending {
        EntryHandle folder;
        std::size_t depth;
        std::string path;
    };
    std::vector<Pending> pending = {{folder, 0, {}}};
    while (!pending.empty()) {
        Pending f = std::move(pending.back());
        pending.pop_back();
        for (EntryHandle c : children(f.folder)) {
            if (!seen.insert(c).second)
                continue;
            if (parser_.isFolder(c)) {
                if (f.depth + 1 < kMaxTreeDepth)
                    pending.push_back({c, f.depth + 1, below(f.path, c)});
            } else if (!keep_ || keep_(c)) {
                visit(c, below(f.path, c));
            }
        }
    }
}

std::uint64_t FolderSave::countFiles(EntryHandle folder)
{
    std::uint64_t count = 0;
    forEachFileBelow(folder, [&](EntryHandle, const std::string&) { ++count; }, false);
    return count;
}

FolderSave::Totals FolderSave::saveFolderContents(EntryHandle folder, const OutputFolder& into,
                                                  const std::string& shownPath, JobContext& job)
{
    Totals totals;
    // A Stop pressed before (during the scan, or an earlier save) must not
    // keep this save from writing anything.
    stop_.store(false);
    std::unordered_set<EntryHandle> visited;
    visited_ = &visited;
    volumeDir_ = volumeFolder_;
    outputDir_.clear();
    walk(folder, into, shownPath, job, totals, 0);
    visited_ = nullptr;
    return totals;
}

void FolderSave::walk(EntryHandle folder, const OutputFolder& into, const std::string& shownPath, JobContext& job,
                      Totals& totals, std::size_t depth)
{
    for (EntryHandle c : children(folder)) {
        if (job.stopSeen(stop_)) {
            totals.stopSeen = true;
            return;
        }
        if (!visited_->insert(c).second)
            continue; // a loop in damaged links
        job.reporter().setProgressPos(progressValue(totals.files));
        if (parser_.isFolder(c)) {
            if (keep_ && !holdsKept(c, depth + 1))
                continue;
            std::string name = outputComponent(parser_.outputName(c));
            std::string made;
            int error = 0;
            auto sub = into.subfolder(name, &made, &error);
            if (!sub) {
                // Its files are not written either, and the totals say so.
                fail(totals, countFiles(c), shownPath + "/" + name + "/", error);
                if (onFile_) {
                    const std::string below = joined(volumeDir_, parser_.nameUtf8(c));
                    const std::string reason = "its folder could not be made: " + failureText(error);
                    forEachFileBelow(c, [&](EntryHandle f, const std::string& path) {
                        SavedFileRecord r = recordOf(f, parser_.details(f), parser_.recoverability(f));
                        r.path = joined(below, path);
                        tell(r, SaveStatus::NotWritten, reason);
                    }, true);
                }
                continue;
            }
            if (made != name) {
                ++totals.renamed;
                job.reporter().setStatusText("saving Folder  " + shownPath + "/" + name + " as " + made +
                                             " (a file or link of that name is there already)");
            }
            if (depth + 1 < kMaxTreeDepth) {
                const std::string volumeDir = volumeDir_, outputDir = outputDir_;
                volumeDir_ = joined(volumeDir, parser_.nameUtf8(c));
                outputDir_ = joined(outputDir, made);
                walk(c, *sub, shownPath + "/" + made, job, totals, depth + 1);
                volumeDir_ = volumeDir;
                outputDir_ = outputDir;
            }
            continue;
        }
        if (!keep_ || keep_(c))
            writeFile(c, into, shownPath, job, totals);
    }
}

bool FolderSave::holdsKept(EntryHandle folder, std::size_t depth)
{
    if (auto known = keptBelow_.find(folder); known != keptBelow_.end())
        return known->second;
    keptBelow_[folder] = false; // a folder that is its own ancestor holds nothing more
    bool any = false;
    for (EntryHandle c : children(folder)) {
        // No early end: every folder below gets its answer remembered.
        if (parser_.isFolder(c))
            any = (depth + 1 < kMaxTreeDepth && holdsKept(c, depth + 1)) || any;
        else
            any = any || keep_(c);
    }
    keptBelow_[folder] = any;
    return any;
}

void FolderSave::fail(Totals& totals, std::uint64_t files, const std::string& what, int error)
{
    totals.files += files;
    totals.failed += files;
    totals.failures.note(what, error, files);
}

bool FolderSave::saveFile(EntryHandle file, const OutputFolder& into, const std::string& shownPath, JobContext& job,
                          Totals& totals)
{
    stop_.store(false);
    volumeDir_ = volumeFolder_;
    outputDir_.clear();
    return writeFile(file, into, shownPath, job, totals);
}

SavedFileRecord FolderSave::recordOf(EntryHandle file, const EntryDetails& details, Recoverability recoverability)
{
    SavedFileRecord r;
    r.path = joined(volumeDir_, parser_.nameUtf8(file));
    r.handle = file;
    if (entryNumber_)
        r.entry = entryNumber_(file);
    r.deleted = parser_.isDeleted(file);
    r.recoverability = recoverability;
    r.size = details.size;
    r.created = details.creation;
    r.accessed = details.access;
    r.modified = details.modification;
    return r;
}

void FolderSave::tell(SavedFileRecord& record, SaveStatus status, std::string reason)
{
    record.status = status;
    record.reason = std::move(reason);
    if (status == SaveStatus::NotWritten) {
        // Nothing of it is left: no output, and no digests of bytes that are not there.
        record.outputPath.clear();
        record.md5.clear();
        record.sha256.clear();
    }
    onFile_(record);
}

std::optional<bool> FolderSave::holdsSameContents(EntryHandle file, const OutputFolder& into, const std::string& name,
                                                  JobContext& job, SavedFileRecord& record)
{
    auto entry = hashEntry(parser_, file, job, stop_);
    if (!entry)
        return std::nullopt;
    auto there = hashOutputFile(into, name);
    if (!there || *there != entry->hashes)
        return false;
    record.md5 = there->md5;
    record.sha256 = there->sha256;
    return true;
}

bool FolderSave::writeFile(EntryHandle file, const OutputFolder& into, const std::string& shownPath, JobContext& job,
                           Totals& totals)
{
    ++totals.files;
    lastSavedName_.clear();
    std::string name = outputComponent(parser_.outputName(file));
    JobReporter& reporter = job.reporter();
    reporter.setStatusText("saving File  " + shownPath + "/" + name);
    // Described once: the size for the status, the times for the saved file.
    EntryDetails details = parser_.describe(file);
    reporter.setDetailText("File size: " + details.sizeText);
    const Recoverability recoverability = parser_.recoverability(file);
    SavedFileRecord record;
    if (onFile_)
        record = recordOf(file, details, recoverability);
    if (parser_.skipOnSave(file)) {
        ++totals.skipped;
        if (onFile_)
            tell(record, SaveStatus::NotWritten, "left out ($BadClus)");
        reporter.setDetailText("");
        return true;
    }
    if (skipExisting_ && into.fileSize(name) == details.size) {
        // Observed, the same length is not enough: the digests given for
        // the file must be those of the bytes it holds.
        std::optional<bool> same = true;
        if (onFile_)
            same = holdsSameContents(file, into, name, job, record);
        if (!same) {
            --totals.files;
            totals.stopSeen = true;
            tell(record, SaveStatus::NotWritten, "Stop came before it was compared with the file there");
            reporter.setDetailText("");
            return false;
        }
        if (*same) {
            ++totals.present;
            lastSavedName_ = name;
            if (onFile_) {
                record.outputPath = joined(outputDir_, name);
                tell(record, SaveStatus::Present);
            }
            reporter.setDetailText("");
            return true;
        }
    }
    SavedFile out;
    if (!out.create(into, name)) {
        --totals.files;
        fail(totals, 1, shownPath + "/" + name, out.lastError());
        if (onFile_)
            tell(record, SaveStatus::NotWritten, failureText(out.lastError()));
        reporter.setDetailText("");
        return false;
    }
    if (out.name() != name) {
        ++totals.renamed;
        reporter.setStatusText("saving File  " + shownPath + "/" + name + " as " + out.name() +
                               " (a file of that name is there already)");
    }
    // Observed, the bytes are hashed on their way to the file.
    std::optional<HashingSink> hashing;
    if (onFile_)
        hashing.emplace(out);
    StopAwareSink sink(hashing ? static_cast<DataSink&>(*hashing) : out, job, stop_);
    std::optional<GuessedSave> guess;
    if (recoverability == Recoverability::Guessed)
        guess = saveGuessed(parser_, file, sink);
    bool complete = guess ? guess->complete : parser_.saveEntry(file, sink);
    if (sink.stopped()) {
        // Part of a file is not left looking like the whole of it.
        out.discard();
        --totals.files;
        ++totals.stopped;
        totals.stopSeen = true;
        if (onFile_)
            tell(record, SaveStatus::NotWritten, "Stop came while it was written, and it was removed");
        reporter.setDetailText("");
        return false;
    }
    out.setTimes(details.access, details.modification);
    if (out.lastError() != 0 || !out.close()) {
        // The output could not take it (a full disk): the zeros or the cut
        // it would leave are the output's fault, not the image's, and a
        // file cut short is not left looking whole.
        const int error = out.lastError();
        out.discard();
        --totals.files;
        fail(totals, 1, shownPath + "/" + out.name(), error);
        if (onFile_)
            tell(record, SaveStatus::NotWritten, failureText(error));
        reporter.setDetailText("");
        return false;
    }
    if (!complete)
        ++totals.incomplete;
    if (recoverability != Recoverability::Live)
        ++totals.deleted[static_cast<std::size_t>(recoverability)];
    if (guess) {
        switch (guess->verdict) {
        case GuessVerdict::Holds:
            ++totals.guessesHolding;
            if (guess->reading != 0) {
                ++totals.guessesPieced;
                reporter.setStatusText("saving File  " + shownPath + "/" + out.name() +
                                       ": read on past another deleted file's clusters, where it makes a whole file");
            }
            break;
        case GuessVerdict::Broken:
            ++totals.guessesBroken;
            reporter.setStatusText("saving File  " + shownPath + "/" + out.name() +
                                   ": its clusters were guessed, and they do not make a whole file of its kind");
            break;
        case GuessVerdict::Unchecked: break;
        }
    }
    lastSavedName_ = out.name();
    if (onFile_) {
        const FileHashes hashes = hashing->finish();
        record.md5 = hashes.md5;
        record.sha256 = hashes.sha256;
        record.outputPath = joined(outputDir_, out.name());
        if (!complete)
            tell(record, SaveStatus::Incomplete, "part of its data could not be read and is zeros");
        else if (guess)
            tell(record, SaveStatus::Guessed, guessReason(*guess));
        else
            tell(record, SaveStatus::Whole);
    }
    reporter.setDetailText("");
    return complete;
}

} // namespace qis

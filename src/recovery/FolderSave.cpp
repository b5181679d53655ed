#include "recovery/FolderSave.h"

#include "filesystems/EntryWalk.h"
#include "platform/OutputNames.h"
#include "jobs/StopAwareSink.h"
#include "recovery/GuessedFileCheck.h"

#include <cstring>
#include <optional>

namespace qis {

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

std::uint64_t FolderSave::countFiles(EntryHandle folder)
{
    std::uint64_t count = 0;
    std::unordered_set<EntryHandle> seen;
    std::vector<std::pair<EntryHandle, std::size_t>> pending = {{folder, 0}};
    while (!pending.empty()) {
        auto [f, depth] = pending.back();
        pending.pop_back();
        for (EntryHandle c : children(f)) {
            if (!seen.insert(c).second)
                continue;
            if (parser_.isFolder(c)) {
                if (depth + 1 < kMaxTreeDepth)
                    pending.emplace_back(c, depth + 1);
            } else {
                ++count;
            }
        }
    }
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
            std::string name = outputComponent(parser_.outputName(c));
            std::string made;
            int error = 0;
            auto sub = into.subfolder(name, &made, &error);
            if (!sub) {
                // Its files are not written either, and the totals say so.
                fail(totals, countFiles(c), shownPath + "/" + name + "/", error);
                continue;
            }
            if (made != name) {
                ++totals.renamed;
                job.reporter().setStatusText("saving Folder  " + shownPath + "/" + name + " as " + made +
                                             " (a file or link of that name is there already)");
            }
            if (depth + 1 < kMaxTreeDepth)
                walk(c, *sub, shownPath + "/" + made, job, totals, depth + 1);
            continue;
        }
        writeFile(c, into, shownPath, job, totals);
    }
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
    return writeFile(file, into, shownPath, job, totals);
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
    if (parser_.skipOnSave(file)) {
        ++totals.skipped;
        reporter.setDetailText("");
        return true;
    }
    if (skipExisting_ && into.fileSize(name) == details.size) {
        ++totals.present;
        lastSavedName_ = name;
        reporter.setDetailText("");
        return true;
    }
    SavedFile out;
    if (!out.create(into, name)) {
        --totals.files;
        fail(totals, 1, shownPath + "/" + name, out.lastError());
        reporter.setDetailText("");
        return false;
    }
    if (out.name() != name) {
        ++totals.renamed;
        reporter.setStatusText("saving File  " + shownPath + "/" + name + " as " + out.name() +
                               " (a file of that name is there already)");
    }
    StopAwareSink sink(out, job, stop_);
    const Recoverability recoverability = parser_.recoverability(file);
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
    reporter.setDetailText("");
    return complete;
}

} // namespace qis

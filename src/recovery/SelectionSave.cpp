#include "recovery/SelectionSave.h"

namespace qis {
namespace {

// The folder the records' paths start from: the chosen folder itself, or
// the chosen file's folder (its name is added for it as for any file).
std::string recordFolder(std::string path, bool oneFile)
{
    while (!path.empty() && path.front() == '/')
        path.erase(path.begin());
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    if (!oneFile)
        return path;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

SelectionSaveResult saveSelection(VolumeParser& parser, EntryHandle target, const OutputFolder& into,
                                  const std::string& shownPath, std::atomic<bool>& saveStopRequested,
                                  JobContext& job, bool skipExisting, const SaveObserver& observer,
                                  const std::function<bool(EntryHandle)>& keep)
{
    SelectionSaveResult result;
    FolderSave save(parser, saveStopRequested);
    save.skipExisting(skipExisting);
    if (keep)
        save.keepOnly(keep);
    const bool oneFile = target != kNoEntry && !parser.isFolder(target);
    if (observer.onFile)
        save.observe(observer.onFile, observer.entryNumber, recordFolder(observer.volumePath, oneFile));
    if (oneFile) {
        result.filesChosen = 1;
        save.saveFile(target, into, shownPath, job, result.totals);
    } else {
        const std::uint64_t n = save.countFiles(target);
        result.filesChosen = n;
        job.reporter().setProgressRange(0, progressValue(n));
        auto answer = job.reporter().showMessage("number of files found inside this folder = " + std::to_string(n) +
                                                     " .do u want to continue dumping these files..?",
                                                 MessageIcon::Information, MessageButtons::YesNo);
        if (answer != MessageResult::Yes) {
            result.answered = false;
            return result;
        }
        result.totals = save.saveFolderContents(target, into, shownPath, job);
        job.reporter().setProgressPos(progressValue(n));
    }
    // "done" only where it is true: not after a Stop, not when files are missing.
    if (!result.totals.stopSeen && result.totals.failed == 0)
        job.reporter().showMessage("Saving process done.");
    job.reporter().showMessage(saveTotalsText(result.totals));
    if (result.totals.failed != 0)
        job.reporter().showMessage(notWrittenText(result.totals));
    return result;
}

std::string saveTotalsText(const FolderSave::Totals& totals)
{
    std::string deleted;
    for (std::size_t r = 0; r < kRecoverabilityCount; ++r)
        if (totals.deleted[r] != 0)
            deleted += (deleted.empty() ? " Deleted files among them: " : ", ") + std::to_string(totals.deleted[r]) +
                       " " + std::string(recoverabilityText(static_cast<Recoverability>(r)));
    if (!deleted.empty())
        deleted += '.';
    if (totals.guessesHolding + totals.guessesBroken != 0)
        deleted += " Guessed files checked against their format: " + std::to_string(totals.guessesHolding) + " whole" +
                   (totals.guessesPieced == 0
                        ? std::string()
                        : " (" + std::to_string(totals.guessesPieced) +
                              " of them read on past another deleted file's clusters)") +
                   ", " + std::to_string(totals.guessesBroken) + " not (parts of other files in them).";
    return std::to_string(totals.files) + " files: " +
           std::to_string(totals.files - totals.failed - totals.skipped - totals.present) + " written, " +
           std::to_string(totals.incomplete) + " with unreadable parts (zeros), " + std::to_string(totals.failed) +
           " not written, " + std::to_string(totals.skipped) + " left out ($BadClus), " +
           std::to_string(totals.renamed) + " renamed beside a namesake." +
           (totals.stopped ? " " + std::to_string(totals.stopped) + " begun when Stop came, and removed." : "") +
           (totals.present ? " " + std::to_string(totals.present) + " there already, as long as on the volume, and left as they were." : "") +
           deleted;
}

} // namespace qis

namespace qis {

std::string notWrittenText(const FolderSave::Totals& totals)
{
    return totals.failures.text("Not written (" + std::to_string(totals.failed) + " files):");
}

} // namespace qis

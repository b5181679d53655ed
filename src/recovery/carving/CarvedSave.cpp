#include "recovery/carving/CarvedSave.h"

#include "images/VolumeBytes.h"
#include "recovery/carving/CarvedNames.h"
#include "platform/OutputNames.h"
#include "jobs/StopAwareSink.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>

namespace qis {
namespace {

// Copies one carved file out of the disk; false when a piece could not be
// written or Stop came first. `whole` turns false when a piece could not be
// read (it is written as zeros).
bool writeCarved(readWriteInterface& reader, const CarvedFile& f, DataSink& out, bool& whole)
{
    constexpr std::uint64_t kPiece = 1u << 20;
    const carve::FileLayout layout = f.layout();
    const std::uint64_t length = carve::layoutLength(layout);
    std::vector<std::uint8_t> piece;
    whole = true;
    for (std::uint64_t done = 0; done < length;) {
        const std::uint64_t n = std::min(kPiece, length - done);
        piece.resize(static_cast<std::size_t>(n));
        whole = carve::readThroughLayout(reader, layout, done, piece) && whole;
        if (!out.write(piece))
            return false;
        done += n;
    }
    return true;
}

void noteFailure(CarvedSaveResult& result, std::size_t files, const std::string& what, int error)
{
    result.failed += files;
    result.failures.note(what, error, files);
}

} // namespace

CarvedSaveResult saveCarvedFiles(const myJpg& engine, readWriteInterface& reader, const OutputFolder& root,
                                 const std::function<bool(std::size_t index)>& wanted, std::atomic<bool>& stop,
                                 JobContext& job)
{
    CarvedSaveResult result;
    result.savedAs.resize(engine.carvedFiles.size());
    std::vector<std::size_t> chosen;
    for (std::size_t i = 0; i < engine.carvedFiles.size(); ++i)
        if (wanted(i))
            chosen.push_back(i);
    stop.store(false);
    JobReporter& reporter = job.reporter();
    reporter.setProgressRange(0, progressValue(chosen.size()));
    // Open folders by their path below root ("Pictures", "Pictures/DCIM"),
    // each under the name it was made with.
    std::map<std::string, std::pair<OutputFolder, std::string>> folders;
    for (std::size_t done = 0; done < chosen.size(); ++done) {
        if (job.stopSeen(stop)) {
            result.stopped = true;
            break;
        }
        reporter.setProgressPos(progressValue(done));
        const std::size_t i = chosen[done];
        std::vector<std::string> path = carvedOutputPath(engine, i);
        path.insert(path.begin(), outputComponent(engine.categoryOf(i)));
        const std::string name = path.back();
        // A file or link of a folder's name gets the folder beside it.
        const OutputFolder* parent = &root;
        std::string key, folderName;
        int folderError = 0;
        for (std::size_t c = 0; c + 1 < path.size(); ++c) {
            key += (c ? "/" : "") + path[c];
            auto folder = folders.find(key);
            if (folder == folders.end()) {
                std::string made;
                auto sub = parent->subfolder(path[c], &made, &folderError);
                if (!sub) {
                    parent = nullptr;
                    folderName += (c ? "/" : "") + path[c];
                    break;
                }
                folder = folders.emplace(key, std::make_pair(std::move(*sub), folderName + (c ? "/" : "") + made)).first;
            }
            parent = &folder->second.first;
            folderName = folder->second.second;
        }
        if (!parent) {
            noteFailure(result, 1, folderName + "/" + name, folderError);
            continue;
        }
        reporter.setStatusText("saving File  " + folderName + "/" + name);
        SavedFile out;
        if (!out.create(*parent, name)) {
            noteFailure(result, 1, folderName + "/" + name, out.lastError());
            continue;
        }
        StopAwareSink sink(out, job, stop);
        bool whole = true;
        writeCarved(reader, engine.carvedFiles[i], sink, whole);
        if (sink.stopped()) {
            // Part of a file is not left looking like the whole of it.
            out.discard();
            result.stopped = true;
            break;
        }
        if (out.lastError() != 0 || !out.close()) {
            // The output could not take it: nothing cut short stays behind.
            const int error = out.lastError();
            out.discard();
            noteFailure(result, 1, folderName + "/" + out.name(), error);
            continue;
        }
        if (!whole)
            ++result.incomplete;
        result.savedAs[i] = folderName + "/" + out.name();
        ++result.written;
    }
    if (!result.stopped)
        reporter.setProgressPos(progressValue(chosen.size()));
    return result;
}

} // namespace qis

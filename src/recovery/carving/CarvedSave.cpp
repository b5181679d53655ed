#include "recovery/carving/CarvedSave.h"

#include "images/VolumeBytes.h"
#include "platform/OutputNames.h"
#include "jobs/StopAwareSink.h"

#include <algorithm>
#include <cstdint>
#include <map>

namespace qis {
namespace {

// Copies one carved file out of the disk; false when a piece could not be
// read (it is written as zeros) or written, or Stop came first.
bool writeCarved(readWriteInterface& reader, const CarvedFile& f, DataSink& out)
{
    constexpr std::uint64_t kPiece = 1u << 20;
    std::vector<std::uint8_t> piece;
    bool ok = true;
    for (std::uint64_t done = 0; done < static_cast<std::uint64_t>(f.length);) {
        const std::uint64_t n = std::min(kPiece, static_cast<std::uint64_t>(f.length) - done);
        piece.assign(static_cast<std::size_t>(n), 0);
        ok = readVolumeBytes(reader, f.start + done, piece) && ok;
        if (!out.write(piece))
            return false;
        done += n;
    }
    return ok;
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
    std::map<std::u16string, OutputFolder> folders;
    for (std::size_t done = 0; done < chosen.size(); ++done) {
        if (job.stopSeen(stop)) {
            result.stopped = true;
            break;
        }
        reporter.setProgressPos(progressValue(done));
        const std::size_t i = chosen[done];
        const std::u16string& category = engine.categoryOf(i);
        auto folder = folders.find(category);
        if (folder == folders.end()) {
            auto made = root.subfolder(outputComponent(category));
            if (!made) {
                ++result.failed;
                continue;
            }
            folder = folders.emplace(category, std::move(*made)).first;
        }
        const std::string name = outputComponent(engine.fileName(i));
        reporter.setStatusText("saving File  " + outputComponent(category) + "/" + name);
        SavedFile out;
        if (!out.create(folder->second, name)) {
            ++result.failed;
            continue;
        }
        StopAwareSink sink(out, job, stop);
        const bool whole = writeCarved(reader, engine.carvedFiles[i], sink);
        if (sink.stopped()) {
            // Part of a file is not left looking like the whole of it.
            out.discard();
            result.stopped = true;
            break;
        }
        if (!out.close() || !whole) {
            ++result.failed;
            continue;
        }
        result.savedAs[i] = outputComponent(category) + "/" + out.name();
        ++result.written;
    }
    if (!result.stopped)
        reporter.setProgressPos(progressValue(chosen.size()));
    return result;
}

} // namespace qis

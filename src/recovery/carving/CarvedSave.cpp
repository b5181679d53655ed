#include "recovery/carving/CarvedSave.h"

#include "images/VolumeBytes.h"
#include "recovery/carving/CarvedNames.h"
#include "platform/OutputNames.h"
#include "jobs/StopAwareSink.h"
#include "recovery/HashingSink.h"
#include "util/Utf.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace qis {
namespace {

// Where byte `at` of a file laid out so lies on the disk, and how many of
// its bytes follow it there.
std::pair<std::uint64_t, std::uint64_t> diskPosition(const carve::FileLayout& layout, std::uint64_t at)
{
    for (const carve::CarvedPiece& p : layout) {
        if (at < p.length)
            return {p.offset + at, p.length - at};
        at -= p.length;
    }
    return {0, 0};
}

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
    bool direct = true; // copies inside the system work for this output
    for (std::uint64_t done = 0; done < length;) {
        const std::uint64_t n = std::min(kPiece, length - done);
        if (direct) {
            // Bytes kept as they are in the image file go from file to
            // file without passing through here.
            const auto [at, inPiece] = diskPosition(layout, done);
            std::uint64_t fileOffset = 0, run = 0, copied = 0;
            const int fd = reader.storedAt(at, std::min(n, inPiece), fileOffset, run);
            if (fd >= 0) {
                if (!out.copyFrom(fd, fileOffset, run, copied))
                    return false;
                done += copied;
                direct = copied == run; // refused or failed: write tells why
                continue;
            }
        }
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

// What became of one chosen file.
struct Outcome {
    enum class Kind { NotBegun, Written, Failed, Stopped } kind = Kind::NotBegun;
    bool whole = true;
    std::string path; // as saved, or as it would have been ("Pictures/1024 .jpg")
    int error = 0;
    FileHashes hashes; // of the bytes written, when they were hashed
};

// The report's line for carved file i, as its copy ended.
SavedFileRecord carvedRecord(const myJpg& engine, const readWriteInterface& reader, std::size_t i, const Outcome& o)
{
    const CarvedFile& f = engine.carvedFiles[i];
    const auto base = static_cast<std::uint64_t>(std::max<std::int64_t>(reader.baseOffset, 0));
    SavedFileRecord r;
    for (const std::u16string& part : f.knownPath)
        r.path += (r.path.empty() ? "" : "/") + utf16ToUtf8(part);
    if (r.path.empty())
        r.path = utf16ToUtf8(engine.fileName(i));
    // Named after a deleted entry whose data began where it starts.
    r.deleted = !f.knownPath.empty();
    r.recoverability = r.deleted ? Recoverability::Unknown : Recoverability::Live;
    CarvedOrigin origin;
    origin.offset = base + f.start;
    origin.length = carve::layoutLength(f.layout());
    if (!f.pieces.empty())
        for (const carve::CarvedPiece& p : f.pieces)
            origin.pieces.push_back({base + p.offset, p.length});
    origin.extension = utf16ToUtf8(f.extension.empty() ? engine.signatureTypes[f.typeId].extension : f.extension);
    origin.category = utf16ToUtf8(engine.categoryOf(i));
    r.size = origin.length;
    r.carved = std::move(origin);
    switch (o.kind) {
    case Outcome::Kind::Written:
        r.outputPath = o.path;
        r.md5 = o.hashes.md5;
        r.sha256 = o.hashes.sha256;
        r.status = o.whole ? SaveStatus::Whole : SaveStatus::Incomplete;
        if (!o.whole)
            r.reason = "a piece of it could not be read from the image and is zeros";
        break;
    case Outcome::Kind::Failed:
        r.reason = o.error != 0 ? std::strerror(o.error) : "the output refused it";
        break;
    case Outcome::Kind::Stopped: r.reason = "Stop came while it was written, and it was removed"; break;
    case Outcome::Kind::NotBegun: break;
    }
    return r;
}

// A file created under its final name, waiting for its bytes.
struct Opened {
    std::size_t slot = 0; // its place among the chosen files
    std::unique_ptr<SavedFile> out;
    std::string folderName;
};

// Makes the folders of carved file i and creates the file in the last of
// them. Done in order, one file at a time, so that names taken by a clash
// ("name (1)") come out the same however many threads copy the bytes.
class Creator {
public:
    Creator(const myJpg& engine, const OutputFolder& root) : engine_(engine), root_(root) {}

    std::optional<Opened> open(std::size_t i, Outcome& failed)
    {
        std::vector<std::string> path = carvedOutputPath(engine_, i);
        path.insert(path.begin(), outputComponent(engine_.categoryOf(i)));
        const std::string name = path.back();
        // A file or link of a folder's name gets the folder beside it.
        const OutputFolder* parent = &root_;
        std::string key, folderName;
        int folderError = 0;
        for (std::size_t c = 0; c + 1 < path.size(); ++c) {
            key += (c ? "/" : "") + path[c];
            auto folder = folders_.find(key);
            if (folder == folders_.end()) {
                std::string made;
                auto sub = parent->subfolder(path[c], &made, &folderError);
                if (!sub) {
                    parent = nullptr;
                    folderName += (c ? "/" : "") + path[c];
                    break;
                }
                folder = folders_.emplace(key, std::make_pair(std::move(*sub), folderName + (c ? "/" : "") + made)).first;
            }
            parent = &folder->second.first;
            folderName = folder->second.second;
        }
        failed.kind = Outcome::Kind::Failed;
        if (!parent) {
            failed.path = folderName + "/" + name;
            failed.error = folderError;
            return std::nullopt;
        }
        auto out = std::make_unique<SavedFile>();
        if (!out->create(*parent, name)) {
            failed.path = folderName + "/" + name;
            failed.error = out->lastError();
            return std::nullopt;
        }
        return Opened{0, std::move(out), folderName};
    }

private:
    const myJpg& engine_;
    const OutputFolder& root_;
    // Open folders by their path below root ("Pictures", "Pictures/DCIM"),
    // each under the name it was made with.
    std::map<std::string, std::pair<OutputFolder, std::string>> folders_;
};

// Copies the bytes of a created file and closes it; a file Stop cuts short
// or the output cannot take is removed.
Outcome copyOpened(readWriteInterface& reader, const CarvedFile& f, Opened& file, JobContext& job,
                   const std::atomic<bool>& stop, bool hash)
{
    Outcome o;
    SavedFile& out = *file.out;
    // Hashed, every byte goes through write: none is copied by sendfile.
    std::optional<HashingSink> hashing;
    if (hash)
        hashing.emplace(out);
    StopAwareSink sink(hashing ? static_cast<DataSink&>(*hashing) : out, job, stop);
    writeCarved(reader, f, sink, o.whole);
    if (sink.stopped()) {
        // Part of a file is not left looking like the whole of it.
        out.discard();
        o.kind = Outcome::Kind::Stopped;
        return o;
    }
    if (out.lastError() != 0 || !out.close()) {
        // The output could not take it: nothing cut short stays behind.
        o.error = out.lastError();
        out.discard();
        o.kind = Outcome::Kind::Failed;
        o.path = file.folderName + "/" + out.name();
        return o;
    }
    o.kind = Outcome::Kind::Written;
    o.path = file.folderName + "/" + out.name();
    if (hashing)
        o.hashes = hashing->finish();
    return o;
}

// The files copied by several threads, while this one creates them in
// order a few ahead and shows how many are done. Reading the disk from
// several threads at once and writing several files at once both go
// faster than one after the other.
bool copyInParallel(const myJpg& engine, readWriteInterface& reader, Creator& creator,
                    const std::vector<std::size_t>& chosen, std::vector<Outcome>& outcomes, unsigned threads,
                    std::atomic<bool>& stop, JobContext& job, bool hash)
{
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Opened> queue;
    bool producing = true;
    std::size_t finished = 0;
    auto copier = [&] {
        for (;;) {
            Opened file;
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return !queue.empty() || !producing; });
                if (queue.empty())
                    return;
                file = std::move(queue.front());
                queue.pop_front();
            }
            changed.notify_all();
            Outcome o = copyOpened(reader, engine.carvedFiles[chosen[file.slot]], file, job, stop, hash);
            {
                const std::lock_guard<std::mutex> hold(lock);
                outcomes[file.slot] = std::move(o);
                ++finished;
            }
            changed.notify_all();
        }
    };
    std::vector<std::jthread> copiers;
    for (unsigned t = 0; t < threads; ++t) {
        try {
            copiers.emplace_back(copier);
        } catch (const std::system_error&) {
            break; // fewer threads: the others go on
        }
    }
    if (copiers.empty())
        return false;
    auto endProducing = [&] {
        {
            const std::lock_guard<std::mutex> hold(lock);
            producing = false;
        }
        changed.notify_all();
    };
    // However this ends, even by an exception, the copiers finish what is
    // queued and stop before they are joined.
    struct AtExit {
        decltype(endProducing)& done;
        ~AtExit() { done(); }
    } atExit{endProducing};
    JobReporter& reporter = job.reporter();
    const std::size_t ahead = 2 * copiers.size();
    bool stopped = false;
    std::size_t shown = 0, queued = 0;
    for (std::size_t slot = 0; slot < chosen.size(); ++slot) {
        {
            std::unique_lock<std::mutex> hold(lock);
            changed.wait(hold, [&] { return queue.size() < ahead; });
            shown = finished;
        }
        reporter.setProgressPos(progressValue(shown));
        if (job.stopSeen(stop)) {
            stopped = true;
            break;
        }
        auto file = creator.open(chosen[slot], outcomes[slot]);
        if (!file)
            continue;
        file->slot = slot;
        reporter.setStatusText("saving File  " + file->folderName + "/" + file->out->name());
        {
            const std::lock_guard<std::mutex> hold(lock);
            queue.push_back(std::move(*file));
        }
        ++queued;
        changed.notify_all();
    }
    endProducing();
    // The last files: their progress as they are done.
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(lock);
            changed.wait(hold, [&] { return finished != shown || finished == queued; });
            shown = finished;
        }
        if (shown == queued)
            break;
        reporter.setProgressPos(progressValue(shown));
    }
    copiers.clear(); // joins
    return stopped;
}

} // namespace

CarvedSaveResult saveCarvedFiles(const myJpg& engine, readWriteInterface& reader, const OutputFolder& root,
                                 const std::function<bool(std::size_t index)>& wanted, std::atomic<bool>& stop,
                                 JobContext& job, const SavedFileObserver& onFile)
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
    Creator creator(engine, root);
    std::vector<Outcome> outcomes(chosen.size());
    const unsigned threads = std::min(std::thread::hardware_concurrency(), 8u);
    if (reader.readsConcurrently() && threads > 1 && chosen.size() > 1) {
        result.stopped = copyInParallel(engine, reader, creator, chosen, outcomes, threads, stop, job, bool(onFile));
    } else {
        for (std::size_t slot = 0; slot < chosen.size(); ++slot) {
            if (job.stopSeen(stop)) {
                result.stopped = true;
                break;
            }
            reporter.setProgressPos(progressValue(slot));
            auto file = creator.open(chosen[slot], outcomes[slot]);
            if (!file)
                continue;
            reporter.setStatusText("saving File  " + file->folderName + "/" + file->out->name());
            outcomes[slot] = copyOpened(reader, engine.carvedFiles[chosen[slot]], *file, job, stop, bool(onFile));
            if (outcomes[slot].kind == Outcome::Kind::Stopped)
                break;
        }
    }
    for (std::size_t slot = 0; slot < chosen.size(); ++slot) {
        const Outcome& o = outcomes[slot];
        if (o.kind == Outcome::Kind::Written) {
            if (!o.whole)
                ++result.incomplete;
            result.savedAs[chosen[slot]] = o.path;
            ++result.written;
        } else if (o.kind == Outcome::Kind::Failed) {
            noteFailure(result, 1, o.path, o.error);
        } else if (o.kind == Outcome::Kind::Stopped) {
            result.stopped = true;
        }
        if (onFile && o.kind != Outcome::Kind::NotBegun)
            onFile(carvedRecord(engine, reader, chosen[slot], o));
    }
    if (!result.stopped)
        reporter.setProgressPos(progressValue(chosen.size()));
    return result;
}

} // namespace qis

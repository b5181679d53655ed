// The carving scan on several threads. The range is cut into parts, each
// scanned from its start with a fresh state by whichever thread is free,
// in order. A part's scan goes on past its end until it comes to a place
// the next part's scan also came to by a jump (the end of a file found,
// the start of a stretch) or by stepping onto a whole 4 MiB, with the same
// starts waiting for their end
// signatures: from there on both would do the same, so the next part's
// files from there on follow. The files are what one thread finds, in the
// same order. When no such place comes, a part's scan goes on to the end
// and the later parts' work is left unused.

#include "recovery/carving/SharedReader.h"
#include "recovery/carving/myJpg.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <latch>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace qis {
namespace {

constexpr std::uint64_t kMostParts = 64;
constexpr std::uint64_t kSector = 512;

// The parts, in order: `partBytes` long at first, then shorter toward the
// end, down to a quarter of it, so that the threads run out of work at
// about the same time; a part whose scan meets a costly file late does not
// leave the others waiting long. Always two parts at least, 64 at most.
std::vector<std::pair<std::uint64_t, std::uint64_t>> partRanges(std::uint64_t size, std::uint64_t partBytes,
                                                                unsigned threads)
{
    const std::uint64_t fewest = (size + kMostParts - 2) / (kMostParts - 1);
    const std::uint64_t largest = std::max({partBytes, fewest, kSector});
    const std::uint64_t smallest = std::max({partBytes / 4, fewest, kSector});
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    for (std::uint64_t from = 0; from < size;) {
        const std::uint64_t left = size - from;
        std::uint64_t length = std::clamp<std::uint64_t>(left / (2 * std::uint64_t{threads}), smallest, largest);
        length = std::max(length / kSector * kSector, kSector);
        // No sliver of a part at the end.
        const std::uint64_t to = left - std::min(left, length) < smallest / 2 ? size : from + length;
        ranges.emplace_back(from, to);
        from = to;
    }
    if (ranges.size() < 2) {
        const std::uint64_t half = size / 2 / kSector * kSector;
        ranges = {{0, half}, {half, size}};
    }
    return ranges;
}

} // namespace

bool myJpg::fewPending() const
{
    constexpr std::size_t kFew = 64;
    std::size_t n = 0;
    for (const auto& starts : pendingStarts)
        if ((n += starts.size()) > kFew)
            return false;
    return true;
}

void myJpg::scanInParts(JobContext& job, const carve::ScannedVolume& scannedVolume)
{
    // Where a part's scan came by a jump, and what it had found by then.
    struct Mark {
        std::uint64_t pos = 0;
        std::size_t files = 0;
        std::uint64_t broken = 0;
        // The starts waiting for their end signature (type, start), when
        // few; most often none, and then nothing is allocated.
        std::optional<std::vector<std::pair<std::size_t, std::uint64_t>>> pending;
    };
    struct Part {
        std::uint64_t from = 0, to = 0;
        myJpg engine;
        std::unique_ptr<carve::SharedReader> view;
        std::mutex lock; // guards marks, started and done
        std::condition_variable marked;
        std::vector<Mark> marks;
        bool started = false, done = false;
        // Where this part's scan handed over, and the part it handed over to.
        std::optional<Mark> met;
        std::size_t metPart = 0;
    };
    // What starts wait for their end signature, when few enough to compare.
    auto waiting = [](const myJpg& e) -> decltype(Mark::pending) {
        if (!e.fewPending())
            return std::nullopt;
        std::vector<std::pair<std::size_t, std::uint64_t>> starts;
        for (std::size_t type = 0; type < e.pendingStarts.size(); ++type)
            for (std::uint64_t start : e.pendingStarts[type])
                starts.emplace_back(type, start);
        return starts;
    };
    const unsigned threads = std::min<unsigned>(std::max(2u, std::thread::hardware_concurrency()), 8);
    std::mutex diskLock;
    std::vector<std::unique_ptr<Part>> parts;
    for (const auto& [from, to] : partRanges(scanSize, partBytes, threads)) {
        auto p = std::make_unique<Part>();
        p->from = from;
        p->to = to;
        p->view = std::make_unique<carve::SharedReader>(*reader, diskLock);
        myJpg& e = p->engine;
        e.signatureTypes = signatureTypes;
        e.signatureEntries = signatureEntries;
        e.scanSize = scanSize;
        e.scanRuns = scanRuns;
        e.validateLengths = validateLengths;
        e.keepBroken = keepBroken;
        e.fragmentSearch = fragmentSearch;
        e.fragmentBudget_ = fragmentBudget_;
        e.reader = p->view.get();
        e.stopFlag_ = &rawStopRequested;
        e.prepareMatcher();
        parts.push_back(std::move(p));
    }

    auto scanPart = [&](std::size_t i, JobContext* progress) {
        Part& part = *parts[i];
        // The part this scan hands over to, when they meet.
        std::size_t nextIndex = i + 1;
        part.engine.scanFrom(part.from, nullptr, scannedVolume, progress, [&](std::uint64_t pos) {
            if (i > 0) {
                {
                    const std::lock_guard<std::mutex> hold(part.lock);
                    part.marks.push_back(
                        {pos, part.engine.carvedFiles.size(), part.engine.brokenStarts, waiting(part.engine)});
                }
                part.marked.notify_all();
            }
            // A part taken on so has no marks of its own: it is done at once.
            auto takeOn = [](Part& p) {
                if (p.started)
                    return false;
                p.started = p.done = true;
                return true;
            };
            for (;;) {
                if (nextIndex == parts.size() || pos < parts[nextIndex]->from)
                    return false;
                const auto mine = waiting(part.engine);
                if (!mine)
                    return false;
                Part& next = *parts[nextIndex];
                std::unique_lock<std::mutex> hold(next.lock);
                // No thread has taken the next part yet: this scan does it.
                if (takeOn(next)) {
                    ++nextIndex;
                    continue;
                }
                // The next scan is most often ahead; when it is not, wait
                // for it to pass here, or this place would be missed.
                auto passed = [&] { return !next.marks.empty() && next.marks.back().pos >= pos; };
                next.marked.wait(hold, [&] { return next.done || passed(); });
                if (!passed()) {
                    // It ended before here (it met the one after it, or
                    // was taken on): the part after it is the one to meet.
                    ++nextIndex;
                    continue;
                }
                auto at = std::lower_bound(next.marks.begin(), next.marks.end(), pos,
                                           [](const Mark& m, std::uint64_t p) { return m.pos < p; });
                // The same place with the same starts waiting: the same scan on.
                if (at->pos != pos || at->pending != mine)
                    return false;
                part.met = *at;
                part.metPart = nextIndex;
                return true;
            }
        });
        {
            const std::lock_guard<std::mutex> hold(part.lock);
            part.done = true;
        }
        part.marked.notify_all();
    };
    std::atomic<std::size_t> nextPart{0};
    // Every thread takes its first part before any scan begins: the first
    // parts are each scanned by their own thread, whatever the timing.
    std::latch firstTaken(threads);
    auto work = [&](JobContext* progress) {
        for (bool first = true;; first = false) {
            const std::size_t i = nextPart.fetch_add(1);
            bool mine = false;
            if (i < parts.size() && !rawStopRequested.load()) {
                const std::lock_guard<std::mutex> hold(parts[i]->lock);
                mine = !parts[i]->started; // else taken on by the scan of a part before
                parts[i]->started = true;
            }
            if (first)
                firstTaken.arrive_and_wait();
            if (i >= parts.size() || rawStopRequested.load())
                return;
            if (mine)
                scanPart(i, progress);
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(work, nullptr);
        } catch (const std::system_error&) {
            firstTaken.count_down(); // one thread fewer: the others go on
        }
    }
    work(&job);
    for (std::thread& t : helpers)
        t.join();
    // The files of each part from where the part before handed over to it.
    std::size_t last = 0;
    carvedFiles = std::move(parts[0]->engine.carvedFiles);
    brokenStarts = parts[0]->engine.brokenStarts;
    while (parts[last]->met) {
        const Mark& in = *parts[last]->met;
        last = parts[last]->metPart;
        myJpg& e = parts[last]->engine;
        carvedFiles.insert(carvedFiles.end(), std::make_move_iterator(e.carvedFiles.begin() + static_cast<std::ptrdiff_t>(in.files)),
                           std::make_move_iterator(e.carvedFiles.end()));
        brokenStarts += e.brokenStarts - in.broken;
        handedOverAt = in.pos;
    }
    Part& end = *parts[last];
    pendingStarts = std::move(end.engine.pendingStarts);
    pendingChanged_ = true;
    scanStopped = end.engine.scanStopped;
    scannedBytes = end.engine.scannedBytes;
    if (!end.done) {
        // Stopped before this part's scan began: it got no further than its start.
        scanStopped = true;
        scannedBytes = end.from;
    }
    for (auto& [category, n] : categoryCounts)
        n = 0;
    for (const CarvedFile& f : carvedFiles)
        ++categoryCounts[signatureTypes[f.typeId].category];
}

} // namespace qis

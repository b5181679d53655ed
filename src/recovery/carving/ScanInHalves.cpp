// The carving scan on two threads. The second thread scans from the middle
// of the range with a fresh state; the first scans from the start and, past
// the middle, stops at the first place the second also came to by a jump
// (the end of a file found, the start of a stretch) where neither has a
// start waiting for its end signature. From there on both scans would do
// the same, so the second's files from there on follow the first's: the
// result is what one thread finds. If no such place comes, the first scans
// to the end and the second's work is left unused.

#include "recovery/carving/SharedReader.h"
#include "recovery/carving/myJpg.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qis {

bool myJpg::nothingPending() const
{
    return std::all_of(pendingStarts.begin(), pendingStarts.end(), [](const auto& s) { return s.empty(); });
}

void myJpg::scanInHalves(JobContext& job, const carve::ScannedVolume& scannedVolume)
{
    constexpr std::uint64_t kSector = 512;
    const std::uint64_t middle = scanSize / 2 / kSector * kSector;
    std::mutex diskLock;
    carve::SharedReader firstView(*reader, diskLock), secondView(*reader, diskLock);

    myJpg second;
    second.signatureTypes = signatureTypes;
    second.signatureEntries = signatureEntries;
    second.scanSize = scanSize;
    second.scanRuns = scanRuns;
    second.validateLengths = validateLengths;
    second.keepBroken = keepBroken;
    second.fragmentSearch = fragmentSearch;
    second.fragmentBudget_ = fragmentBudget_;
    second.reader = &secondView;
    second.stopFlag_ = &rawStopRequested;
    second.prepareMatcher();

    // Where the second scan came by a jump, and what it had found by then.
    struct Mark {
        std::uint64_t pos = 0;
        std::size_t files = 0;
        std::uint64_t broken = 0;
        bool idle = false; // no start waiting for its end
    };
    std::mutex marksLock;
    std::condition_variable marked;
    std::vector<Mark> marks;
    bool secondDone = false;
    std::thread secondThread([&] {
        second.scanFrom(middle, nullptr, scannedVolume, nullptr, [&](std::uint64_t pos) {
            {
                const std::lock_guard<std::mutex> hold(marksLock);
                marks.push_back({pos, second.carvedFiles.size(), second.brokenStarts, second.nothingPending()});
            }
            marked.notify_all();
            return false;
        });
        {
            const std::lock_guard<std::mutex> hold(marksLock);
            secondDone = true;
        }
        marked.notify_all();
    });

    std::optional<Mark> met;
    readWriteInterface* own = reader;
    reader = &firstView;
    scanFrom(0, nullptr, scannedVolume, &job, [&](std::uint64_t pos) {
        if (pos < middle || !nothingPending())
            return false;
        std::unique_lock<std::mutex> hold(marksLock);
        // The second scan is most often far ahead; when it is not, wait for
        // it to pass here, or this place would be missed.
        marked.wait(hold, [&] { return secondDone || (!marks.empty() && marks.back().pos >= pos); });
        auto at = std::lower_bound(marks.begin(), marks.end(), pos,
                                   [](const Mark& m, std::uint64_t p) { return m.pos < p; });
        if (at == marks.end() || at->pos != pos || !at->idle)
            return false;
        met = *at;
        return true;
    });
    reader = own;
    secondThread.join();
    if (!met)
        return; // the first scan went to the end (or was stopped) on its own
    handedOverAt = met->pos;

    carvedFiles.insert(carvedFiles.end(), std::make_move_iterator(second.carvedFiles.begin() + met->files),
                       std::make_move_iterator(second.carvedFiles.end()));
    brokenStarts += second.brokenStarts - met->broken;
    pendingStarts = std::move(second.pendingStarts);
    pendingChanged_ = true;
    scanStopped = second.scanStopped;
    scannedBytes = second.scannedBytes;
    for (auto& [category, count] : categoryCounts)
        count = 0;
    for (const CarvedFile& f : carvedFiles)
        ++categoryCounts[signatureTypes[f.typeId].category];
}

} // namespace qis

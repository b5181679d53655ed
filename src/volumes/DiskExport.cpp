#include "volumes/DiskExport.h"

#include "platform/OutputFile.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qis {
namespace {

constexpr std::uint64_t kProgressStep = 10485760; // the bar moves every 10 MiB
constexpr std::size_t kZeroRun = 64 * 1024;       // granularity of holes in the output

bool allZero(const std::uint8_t* p, std::size_t n)
{
    // Compare in words; the data is either all zeros or fails at once.
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w != 0)
            return false;
    }
    for (; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

// Writes the non-zero stretches of a piece; zero stretches stay holes.
bool writeSparse(OutputFile& out, std::uint64_t at, const std::uint8_t* data, std::size_t length)
{
    std::size_t i = 0;
    while (i < length) {
        std::size_t n = std::min(kZeroRun, length - i);
        if (allZero(data + i, n)) {
            i += n;
            continue;
        }
        std::size_t start = i;
        while (i < length) {
            std::size_t m = std::min(kZeroRun, length - i);
            if (allZero(data + i, m))
                break;
            i += m;
        }
        if (!out.writeAt(at + start, {data + start, i - start}))
            return false;
    }
    return true;
}

} // namespace

std::filesystem::path exportOutputPath(const std::filesystem::path& folder, const std::filesystem::path& imagePath)
{
    std::string name = imagePath.has_filename() ? imagePath.filename().string() + ".img" : "Recovered_diskimg.img";
    std::filesystem::path candidate = folder / name;
    std::error_code ec;
    for (std::uint64_t n = 1; std::filesystem::exists(candidate, ec); ++n)
        candidate = folder / (std::to_string(n) + name);
    return candidate;
}

std::string exportProgressText(std::uint64_t done, std::uint64_t total)
{
    char text[160];
    std::snprintf(text, sizeof text, "%" PRIu64 " MB of %" PRIu64 " MB or %Lf GB of %Lf GB Saved", done / 1048576,
                  total / 1048576, static_cast<long double>(done) / 1073741824.0L,
                  static_cast<long double>(total) / 1073741824.0L);
    return text;
}

DiskExport::Result DiskExport::run(WizardState& state, const std::filesystem::path& output, JobContext& job)
{
    Result result;
    JobReporter& reporter = job.reporter();

    state.currentReader = createReader(state.imageFormat);
    state.currentReader->setMessageHandler([&reporter](std::string_view text) { reporter.showMessage(text); });
    auto finish = [&](Outcome outcome) {
        state.closeReader();
        result.outcome = outcome;
        return result;
    };
    if (!state.currentReader->open(state.imagePath))
        return finish(Outcome::OpenFailed);
    readWriteInterface& reader = *state.currentReader;

    std::uint64_t sectors = reader.diskSectorCount != 0 ? reader.diskSectorCount : reader.imageLength / 512;
    const std::uint64_t total = sectors * 512;
    result.totalBytes = total;

    // The free-space check looks at the folder instead of reserving the size
    // in a scratch file, which would truncate a file already at that path.
    std::filesystem::path folder = output.parent_path().empty() ? "." : output.parent_path();
    auto space = freeSpace(folder);
    if (!space) {
        reporter.showMessage("File cannot be Created");
        return finish(Outcome::CannotCreate);
    }
    if (*space < total) {
        reporter.showMessage("Insufficient Disk Space in saving Location");
        return finish(Outcome::NoSpace);
    }
    OutputFile out;
    if (!out.createNew(output)) {
        reporter.showMessage("Disk Image file cannot be created");
        return finish(Outcome::CannotCreate);
    }

    // The bar counts sectors; past 2^31 of them it counts in larger steps.
    std::uint64_t unit = 1;
    while (sectors / unit > 0x7FFFFFFF)
        unit *= 2;
    reporter.setProgressRange(0, static_cast<std::int32_t>(sectors / unit));
    reporter.setProgressPos(0);
    reader.seek(0, 0);

    std::vector<std::uint8_t> piece(kPieceSize);
    Outcome outcome = Outcome::Completed;
    std::uint64_t done = 0;
    while (done < total) {
        std::uint32_t length = static_cast<std::uint32_t>(std::min<std::uint64_t>(kPieceSize, total - done));
        if (!reader.read(piece.data(), length)) {
            reporter.setStatusText("Exit with error number " + std::to_string(reader.lastError()));
            outcome = Outcome::ReadFailed;
            break;
        }
        if (!writeSparse(out, done, piece.data(), length)) {
            if (out.lastError() == ENOSPC)
                reporter.showMessage("Insufficient Disk Space in saving Location");
            else
                reporter.showMessage("Error " + std::to_string(out.lastError()) + " while writing in File");
            outcome = Outcome::WriteFailed;
            break;
        }
        done += length;
        result.bytesWritten = done;
        if (job.stopSeen(exportStopRequested)) {
            exportStopRequested.store(false);
            outcome = Outcome::Stopped;
            break;
        }
        if (done % kProgressStep == 0 || done == total)
            reporter.setProgressPos(static_cast<std::int32_t>(done / 512 / unit));
        reporter.setStatusText(exportProgressText(done, total));
        if (!reader.seek(static_cast<std::int64_t>(done), 0) && done < total) {
            outcome = Outcome::ReadFailed;
            break;
        }
    }
    // Holes at the end only exist once the length is set.
    if (!out.setLength(done) && outcome == Outcome::Completed) {
        reporter.showMessage("Error " + std::to_string(out.lastError()) + " while writing in File");
        outcome = Outcome::WriteFailed;
    }
    out.close();
    reporter.setStatusText("Image Saved, click next to continue recovery proess.");
    return finish(outcome);
}

} // namespace qis

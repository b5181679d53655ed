#include "volumes/DiskExport.h"

#include "platform/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <future>
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

// One piece of the disk: the stretches of it that are allocated were read
// into `data`; the rest stays a hole in the output.
struct Piece {
    std::vector<std::uint8_t> data;
    std::uint64_t at = 0;
    std::uint32_t length = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> allocated; // offset, length
};

bool readPiece(readWriteInterface& reader, Piece& piece)
{
    piece.allocated.clear();
    std::uint32_t offset = 0;
    while (offset < piece.length) {
        bool allocated = true;
        std::uint64_t n = reader.allocationRun(static_cast<std::int64_t>(piece.at + offset), piece.length - offset,
                                               allocated);
        if (n == 0 || n > piece.length - offset)
            n = piece.length - offset;
        if (allocated) {
            if (!reader.seek(static_cast<std::int64_t>(piece.at + offset), 0) ||
                !reader.read(piece.data.data() + offset, static_cast<std::uint32_t>(n)))
                return false;
            piece.allocated.emplace_back(offset, static_cast<std::uint32_t>(n));
        }
        offset += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool writePiece(OutputFile& out, const Piece& piece)
{
    for (auto [offset, length] : piece.allocated)
        if (!writeSparse(out, piece.at + offset, piece.data.data() + offset, length))
            return false;
    return true;
}

} // namespace

std::filesystem::path exportOutputPath(const std::filesystem::path& folder, const std::filesystem::path& imagePath)
{
    std::string name = imagePath.has_filename() ? imagePath.filename().string() + ".img" : "Recovered_diskimg.img";
    std::filesystem::path candidate = folder / name;
    std::error_code ec;
    for (std::uint64_t n = 1;
         std::filesystem::exists(candidate, ec) || std::filesystem::exists(partialExportPath(candidate), ec); ++n)
        candidate = folder / (std::to_string(n) + name);
    return candidate;
}

std::filesystem::path partialExportPath(const std::filesystem::path& output)
{
    std::filesystem::path partial = output;
    partial += ".partial";
    return partial;
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

    state.currentReader = state.newReader();
    state.currentReader->setMessageHandler([&reporter](std::string_view text) { reporter.showMessage(text); });
    auto finish = [&](Outcome outcome) {
        state.closeReader();
        result.outcome = outcome;
        return result;
    };
    if (!state.currentReader->open(state.imagePath))
        return finish(Outcome::OpenFailed);
    readWriteInterface& reader = *state.currentReader;
    result.unreadableBytes = reader.unreadableBytes;
    result.damage = reader.damage;

    std::uint64_t sectors = reader.diskSectorCount != 0 ? reader.diskSectorCount : reader.imageLength / 512;
    const std::uint64_t total = sectors * 512;
    result.totalBytes = total;

    OutputFile out;
    const std::filesystem::path partial = partialExportPath(output);
    // Every failure names the file and the system's reason; the page's own
    // message comes first, the reason goes in the status line.
    auto fail = [&](Outcome outcome, const std::string& message, const std::filesystem::path& file, int error) {
        reporter.showMessage(message);
        reporter.setStatusText(file.string() + ": " + std::strerror(error));
        return finish(outcome);
    };
    std::error_code ec;
    if (std::filesystem::exists(output, ec))
        return fail(Outcome::CannotCreate, "Disk Image file cannot be created", output, EEXIST);
    // The output is made first, so a folder that cannot take it (read-only,
    // missing, not allowed) says so instead of looking like a full disk.
    if (!out.createNew(partial))
        return fail(Outcome::CannotCreate, "File cannot be Created", partial, out.lastError());
    auto removePartial = [&] {
        out.close();
        std::filesystem::remove(partial, ec);
    };
    // The free-space check looks at the folder instead of reserving the size,
    // which costs the whole size at once on a file system without holes.
    std::filesystem::path folder = output.parent_path().empty() ? "." : output.parent_path();
    auto space = freeSpace(folder);
    if (!space) {
        const int error = errno;
        removePartial();
        return fail(Outcome::CannotCreate, "File cannot be Created", folder, error);
    }
    if (*space < total) {
        removePartial();
        reporter.showMessage("Insufficient Disk Space in saving Location");
        reporter.setStatusText(partial.string() + ": " + std::to_string(total) + " bytes do not fit in the " +
                               std::to_string(*space) + " bytes free there");
        return finish(Outcome::NoSpace);
    }

    // The bar counts sectors; past 2^31 of them it counts in larger steps.
    std::uint64_t unit = 1;
    while (sectors / unit > 0x7FFFFFFF)
        unit *= 2;
    reporter.setProgressRange(0, static_cast<std::int32_t>(sectors / unit));
    reporter.setProgressPos(0);
    reader.seek(0, 0);

    // While one piece is written the next is read: two buffers, the write
    // on a thread of its own.
    Piece pieces[2];
    for (Piece& p : pieces)
        p.data.resize(kPieceSize);
    std::future<bool> pendingWrite;
    std::uint32_t pendingLength = 0;
    Outcome outcome = Outcome::Completed;
    std::uint64_t done = 0;

    // Counts the piece whose write has finished and reports it; true when
    // the export must end there.
    auto finishPiece = [&]() -> bool {
        if (!pendingWrite.valid())
            return false;
        bool written = pendingWrite.get();
        if (!written) {
            outcome = Outcome::WriteFailed;
            return true;
        }
        done += pendingLength;
        result.bytesWritten = done;
        if (job.stopSeen(exportStopRequested)) {
            exportStopRequested.store(false);
            outcome = Outcome::Stopped;
            return true;
        }
        if (done % kProgressStep == 0 || done == total)
            reporter.setProgressPos(static_cast<std::int32_t>(done / 512 / unit));
        reporter.setStatusText(exportProgressText(done, total));
        return false;
    };

    std::uint64_t next = 0;
    for (int current = 0; next < total; current ^= 1) {
        Piece& piece = pieces[current];
        piece.at = next;
        piece.length = static_cast<std::uint32_t>(std::min<std::uint64_t>(kPieceSize, total - next));
        bool readOk = readPiece(reader, piece);
        if (finishPiece())
            break;
        if (!readOk) {
            // A reader that fails on the image's own structure has no system
            // error to give; the byte where it failed says where to look.
            const int error = reader.lastError();
            reporter.setStatusText("Exit with error number " + std::to_string(error) + ": " + state.imagePath.string() +
                                   " could not be read at disk byte " + std::to_string(piece.at) +
                                   (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) +
                                   "; the first " + std::to_string(done) + " bytes are in " + partial.string());
            outcome = Outcome::ReadFailed;
            break;
        }
        pendingWrite = std::async(std::launch::async, [&out, &piece] { return writePiece(out, piece); });
        pendingLength = piece.length;
        next += piece.length;
    }
    if (pendingWrite.valid() && outcome == Outcome::Completed)
        finishPiece();
    else if (pendingWrite.valid())
        pendingWrite.get(); // a piece read after Stop or a failure: not counted
    // Holes at the end only exist once the length is set; it also cuts off
    // a piece written after Stop, which is not counted.
    if (outcome != Outcome::WriteFailed && !out.setLength(done) && outcome == Outcome::Completed)
        outcome = Outcome::WriteFailed;
    if (!out.close() && outcome == Outcome::Completed)
        outcome = Outcome::WriteFailed;
    result.writtenTo = partial;
    if (outcome == Outcome::WriteFailed) {
        // A disk cut short by the output is of no use and holds the space
        // the user needs to try again: it is removed.
        const int error = out.lastError();
        std::filesystem::remove(partial, ec);
        result.writtenTo.clear();
        reporter.showMessage(error == ENOSPC ? std::string("Insufficient Disk Space in saving Location")
                                             : "Error " + std::to_string(error) + " while writing in File");
        reporter.setStatusText(partial.string() + ": " + std::strerror(error) + " (removed)");
        return finish(outcome);
    }
    // Only a whole disk takes the output's name, and never over a file that
    // appeared there meanwhile: the rename itself refuses to replace.
    if (outcome == Outcome::Completed) {
        if (const int error = renameWithoutReplacing(partial, output); error != 0) {
            reporter.showMessage("Disk Image file cannot be created");
            reporter.setStatusText(output.string() + ": " + std::strerror(error) + "; the whole disk is in " +
                                   partial.string());
            return finish(Outcome::CannotCreate);
        }
        result.writtenTo = output;
    }
    if (outcome == Outcome::Completed || outcome == Outcome::Stopped)
        reporter.setStatusText("Image Saved, click next to continue recovery proess.");
    return finish(outcome);
}

} // namespace qis

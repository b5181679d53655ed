#pragma once

#include "jobs/JobRunner.h"
#include "images/WizardState.h"

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

namespace qis {

// The output name for an export into `folder`: the image's file name plus
// ".img", or "Recovered_diskimg.img" for a path without one; while that (or
// its partial name) exists, the same with 1, 2, 3, ... written in front.
std::filesystem::path exportOutputPath(const std::filesystem::path& folder, const std::filesystem::path& imagePath);

// Where an export is written until its last byte is in: the output name
// plus ".partial". An export that was stopped, failed or cut short by the
// program ending stays under this name, so it is never taken for a whole disk.
std::filesystem::path partialExportPath(const std::filesystem::path& output);

// "100 MB of 8192 MB or 0.097656 GB of 8.000000 GB Saved"
std::string exportProgressText(std::uint64_t done, std::uint64_t total);

// Writes the whole virtual disk as one raw image: sector k at byte 512·k,
// unallocated blocks as zeros (left as holes where the output allows).
class DiskExport {
public:
    enum class Outcome { Completed, Stopped, OpenFailed, CannotCreate, NoSpace, ReadFailed, WriteFailed };

    struct Result {
        Outcome outcome = Outcome::OpenFailed;
        std::uint64_t bytesWritten = 0;
        std::uint64_t totalBytes = 0;
        // The file holding what was written: the output when the export
        // completed, its partial name otherwise (empty when none was made).
        std::filesystem::path writtenTo;
        // Bytes the reader could not read and wrote as zeros (a damaged block
        // table): a completed export with some is not the whole disk.
        std::uint64_t unreadableBytes = 0;
        std::vector<std::string> damage; // what the reader read past, one sentence each
    };

    static constexpr std::uint32_t kPieceSize = 5242880;

    // Set by Stop; seen after the piece being copied.
    std::atomic<bool> exportStopRequested{false};

    // Runs as a job: replaces the state's reader by a fresh one for the
    // export and leaves currentReader null and diskSectorCount 0 at the end.
    Result run(WizardState& state, const std::filesystem::path& output, JobContext& job);
};

} // namespace qis

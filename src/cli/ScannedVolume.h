#pragma once

#include "cli/Arguments.h"
#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/VolumeScan.h"
#include "images/WizardState.h"
#include "volumes/VolumeRecord.h"

#include <memory>
#include <optional>
#include <string>

namespace qis::cli {

// A volume of the image named on the command line, parsed and linked.
struct ScannedVolume {
    WizardState state;
    VolumeRecord volume;
    ScanOptions options;
    std::unique_ptr<VolumeScan> scan;
    VolumeParser* parser = nullptr; // the scan's view of the parsed table
    // kExitOk when the scan read the volume whole; kExitIncomplete when it
    // stopped short but listed something; kExitFailure when it read nothing.
    int scanExit = kExitOk;
    [[nodiscard]] const ScanProblems& problems() const { return scan->problems(); }
    bool interrupted = false;       // Ctrl-C cut the scan short
};

// The scan options the command line gives (--formatted, --mode, and the
// advanced picks --candidate, --heap, --sectors-per-cluster, --max); false,
// with the reason printed, for a value that is not one.
bool scanOptionsFrom(const Arguments& args, ScanOptions& options);

// Opens the image, finds the volume the options name and makes its
// parser's scan (with `mode` in place of --mode when given), without running
// it. On failure prints why, sets exitCode and returns null.
std::unique_ptr<ScannedVolume> prepareScan(const Arguments& args, int& exitCode, std::optional<int> mode = std::nullopt);

// Opens the image, finds the volume the options name and runs its parser's
// scan as a job (Ctrl-C stops it and keeps what was found). On failure
// prints why, sets exitCode and returns null.
std::unique_ptr<ScannedVolume> scanVolume(const Arguments& args, CliReporter& reporter, int& exitCode);

// The opening of `list --json`: a plain array for a volume read whole; for
// one the scan read only in part an object that says so, with the
// problems, before the same entries.
std::string listJsonHead(const ScannedVolume& scanned);
std::string listJsonTail(const ScannedVolume& scanned);

// One entry as `list --json` and `search --json` print it.
std::string entryJson(VolumeParser& parser, EntryHandle entry, const std::string& path);
void appendEntryJson(std::string& out, VolumeParser& parser, EntryHandle entry, const std::string& path);
// The same as a value, for fields to be added.
Json entryObject(VolumeParser& parser, EntryHandle entry, const std::string& path);
// One entry as a line of `list` and `search`.
// `beforePath` (hashes) goes between the columns and the path.
std::string entryLine(VolumeParser& parser, EntryHandle entry, const std::string& path,
                      std::string_view beforePath = {});

} // namespace qis::cli

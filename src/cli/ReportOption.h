#pragma once

#include "cli/Arguments.h"
#include "recovery/SavedFileRecord.h"
#include "recovery/report/Report.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qis::cli {

// save/carve --report FILE: the records of the files written, collected as
// they are saved and written out at the end in the format FILE's extension
// names (.json, .csv, .xml for DFXML).
class ReportOption {
public:
    // Reads --report; false (after a usage error was printed, `exit` set)
    // for an extension no format has.
    bool read(const Arguments& args, int& exit);
    [[nodiscard]] bool wanted() const { return path_.has_value(); }

    // The observer a save hands each record to.
    SavedFileObserver collector();

    // Writes the report; kExitOk, or kExitFailure after saying why not.
    int write(const ReportMeta& meta);

    // How a volume was named on the command line ("--volume 1"), for the report.
    static std::string volumeNamed(const Arguments& args);

private:
    std::optional<std::filesystem::path> path_;
    std::mutex mutex_;
    std::vector<SavedFileRecord> records_;
};

} // namespace qis::cli

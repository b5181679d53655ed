#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qis::cli {

// What every verb takes about its progress: --quiet (no progress or status
// lines on stderr; the messages that say what went wrong stay) and
// --log FILE (every status text and message, with its time, appended to
// FILE). Set once from the command line, read by every reporter.
struct ProgressOptions {
    bool quiet = false;
    std::FILE* log = nullptr;
};

const ProgressOptions& progressOptions();

// Applies the two options; false (and `why` set) when the log cannot be opened.
bool setProgressOptions(bool quiet, const std::string& logPath, std::string& why);

// Appends "2026-12-11T08:01:02Z text" to the log, if there is one.
void logLine(std::string_view text);

} // namespace qis::cli

#include "cli/ProgressOptions.h"

#include "util/FileTime.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

namespace qis::cli {
namespace {

ProgressOptions g_options;
std::mutex g_logMutex;

} // namespace

const ProgressOptions& progressOptions() { return g_options; }

bool setProgressOptions(bool quiet, const std::string& logPath, std::string& why)
{
    g_options.quiet = quiet;
    if (logPath.empty())
        return true;
    std::FILE* log = std::fopen(logPath.c_str(), "a");
    if (!log) {
        why = "the log " + logPath + " cannot be written: " + std::strerror(errno);
        return false;
    }
    // Each line reaches the file as it is written: a run that is killed
    // keeps its log up to that moment.
    std::setvbuf(log, nullptr, _IOLBF, 0);
    g_options.log = log;
    return true;
}

void logLine(std::string_view text)
{
    if (!g_options.log)
        return;
    char iso[21];
    if (!formatIsoUtc(static_cast<std::int64_t>(std::time(nullptr)), iso))
        iso[0] = '\0';
    std::lock_guard lock(g_logMutex);
    std::fprintf(g_options.log, "%.20s %.*s\n", iso, static_cast<int>(text.size()), text.data());
}

} // namespace qis::cli

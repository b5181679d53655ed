#pragma once

#include <string>
#include <vector>

namespace qis::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The job ended, but some files are incomplete (unreadable or overwritten
// parts written as zeros) or guessed: what was saved is not all there was.
inline constexpr int kExitIncomplete = 3;
// Stopped by Ctrl-C or a stop request before the end, as shells expect.
inline constexpr int kExitStopped = 130;

int runInfo(const std::vector<std::string>& words);
int runExport(const std::vector<std::string>& words);
int runVolumes(const std::vector<std::string>& words);
int runList(const std::vector<std::string>& words);
int runSave(const std::vector<std::string>& words);
int runSearch(const std::vector<std::string>& words);
int runCandidates(const std::vector<std::string>& words);
int runCarve(const std::vector<std::string>& words);
int runSignatures(const std::vector<std::string>& words);
int runCat(const std::vector<std::string>& words);

// Prints the usage text (to stderr on a usage error) and returns kExitUsage.
int usageError(const std::string& why);
void printUsage();
// "qsalvage (Quenmar Image Salvage) 3.02" on stdout.
void printVersion();

} // namespace qis::cli

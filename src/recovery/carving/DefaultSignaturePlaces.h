#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qis {

// Where the default signatures file is looked for, in order: the data
// folder of the install the program runs from (<program folder>/../share/
// qsalvage/, so a prefix moved elsewhere still finds its own file), beside
// the program (a build tree), then the user's data folder
// ($XDG_DATA_HOME/qsalvage/, else ~/.local/share/qsalvage/). An unset,
// empty or relative XDG_DATA_HOME is ignored, as the XDG rules say; with no
// HOME either, there is no user folder to look in.
std::vector<std::filesystem::path> defaultSignaturePlaces(const std::filesystem::path& programFolder,
                                                          const std::string& xdgDataHome, const std::string& home);

struct DefaultSignatureSearch {
    std::filesystem::path found; // empty when no place holds the file
    std::vector<std::filesystem::path> lookedIn;
};

// The first of the places that holds a regular file.
DefaultSignatureSearch findDefaultSignatures(const std::filesystem::path& programFolder,
                                             const std::string& xdgDataHome, const std::string& home);

// The same for the running program and its environment.
DefaultSignatureSearch findDefaultSignatures();

} // namespace qis

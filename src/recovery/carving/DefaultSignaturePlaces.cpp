#include "recovery/carving/DefaultSignaturePlaces.h"

#include "platform/ProgramFolder.h"
#include "recovery/carving/SignatureFile.h"

#include <cstdlib>
#include <system_error>

namespace qis {
namespace {

constexpr const char* kDataFolderName = "qsalvage";

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

std::vector<std::filesystem::path> defaultSignaturePlaces(const std::filesystem::path& programFolder,
                                                          const std::string& xdgDataHome, const std::string& home)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> places;
    places.push_back((programFolder / ".." / "share" / kDataFolderName / kDefaultSignatureFile).lexically_normal());
    places.push_back(programFolder / kDefaultSignatureFile);
    fs::path userData;
    if (!xdgDataHome.empty() && fs::path(xdgDataHome).is_absolute())
        userData = xdgDataHome;
    else if (!home.empty())
        userData = fs::path(home) / ".local" / "share";
    if (!userData.empty())
        places.push_back(userData / kDataFolderName / kDefaultSignatureFile);
    return places;
}

DefaultSignatureSearch findDefaultSignatures(const std::filesystem::path& programFolder,
                                             const std::string& xdgDataHome, const std::string& home)
{
    DefaultSignatureSearch search;
    search.lookedIn = defaultSignaturePlaces(programFolder, xdgDataHome, home);
    for (const std::filesystem::path& place : search.lookedIn) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(place, ec)) {
            search.found = place;
            break;
        }
    }
    return search;
}

DefaultSignatureSearch findDefaultSignatures()
{
    return findDefaultSignatures(programFolder(), environment("XDG_DATA_HOME"), environment("HOME"));
}

} // namespace qis

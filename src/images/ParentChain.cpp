#include "images/ParentChain.h"

#include "platform/ImageFile.h"
#include "util/Ascii.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <system_error>

namespace qis {
namespace {

constexpr std::size_t kMaxChainLength = 64;
// Folders are listed to find a parent by identity or by a name whose case
// differs; a folder of more files than this is only partly looked through.
constexpr std::size_t kMaxFolderEntries = 4096;

// How openParent's own failures begin: a parent's failure that begins so is
// passed up as it is, not wrapped once per image of the chain.
constexpr std::string_view kParentFailure = "The parent image ";
constexpr std::string_view kChainFailure = "The chain of images ";

using FileId = std::pair<std::uint64_t, std::uint64_t>;

std::optional<FileId> identityOf(const std::filesystem::path& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool isRegularFile(const std::filesystem::path& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

// The regular files of a folder in name order, at most kMaxFolderEntries.
std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    std::filesystem::directory_iterator it(folder.empty() ? "." : folder, error), end;
    for (; !error && it != end && files.size() < kMaxFolderEntries; it.increment(error))
        if (isRegularFile(it->path()))
            files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

// A file of the folder whose name equals `name` but for case: images copied
// off Windows keep the names their locators store in another case.
std::filesystem::path sameNameIgnoringCase(const std::filesystem::path& folder, const std::string& name)
{
    const std::string wanted = toLowerAscii(name);
    for (const auto& file : filesIn(folder))
        if (toLowerAscii(file.filename().string()) == wanted)
            return file;
    return {};
}

std::string joined(const std::vector<std::filesystem::path>& places)
{
    std::string text;
    for (const auto& place : places)
        text += (text.empty() ? "" : ", ") + place.string();
    return text;
}

ParseError failure(std::string message) { return ParseError{ParseFailure::Damaged, std::move(message)}; }

} // namespace

void noteChangedParent(readWriteInterface& child, std::string_view identifier)
{
    const std::string name = child.layers.size() > 1 ? child.layers[1].path.filename().string() : "image";
    child.damage.push_back("The parent " + name + " is not the image this one was made from (its " +
                           std::string(identifier) + " differs); sectors it holds may have changed since.");
}

std::vector<std::filesystem::path> parentPlaces(const std::filesystem::path& childFolder, const std::string& name)
{
    std::string text = name;
    bool windowsAbsolute = false;
    if (text.rfind("\\\\?\\", 0) == 0) {
        text.erase(0, 4);
        windowsAbsolute = true;
    }
    if (text.rfind("\\\\", 0) == 0 ||
        (text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':'))
        windowsAbsolute = true;
    std::replace(text.begin(), text.end(), '\\', '/');
    const std::filesystem::path stored(text);
    const std::filesystem::path folder = childFolder.empty() ? "." : childFolder;
    std::vector<std::filesystem::path> places;
    if (!windowsAbsolute && stored.is_absolute())
        places.push_back(stored);
    else if (!windowsAbsolute)
        places.push_back((folder / stored).lexically_normal());
    // Wherever it lay on its host, a chain copied off it usually sits in one folder.
    if (stored.has_filename() && (windowsAbsolute || stored.has_parent_path()) &&
        (places.empty() || places.front() != folder / stored.filename()))
        places.push_back(folder / stored.filename());
    return places;
}

Parsed<std::unique_ptr<readWriteInterface>> openParent(const std::filesystem::path& childPath,
                                                       ImageFormat childFormat, readWriteInterface& child,
                                                       const ParentReference& ref)
{
    const std::string childName = childPath.filename().string();
    std::vector<FileId> chain = child.chainFiles;
    if (auto self = identityOf(childPath))
        chain.push_back(*self);
    if (chain.size() >= kMaxChainLength)
        return failure("The chain of images behind " + childName + " is longer than " +
                       std::to_string(kMaxChainLength) + " images.");

    std::filesystem::path found;
    const std::filesystem::path folder = childPath.parent_path();
    if (!child.parentPaths.empty()) {
        found = child.parentPaths.front();
        if (!isRegularFile(found))
            return failure("The parent image " + found.string() + " given for " + childName +
                           " cannot be opened: " + openFailureReason(found, ENOENT) + ".");
    } else if (!ref.names.empty()) {
        std::vector<std::filesystem::path> tried;
        for (const std::string& name : ref.names) {
            for (const auto& place : parentPlaces(folder, name)) {
                if (std::find(tried.begin(), tried.end(), place) != tried.end())
                    continue;
                tried.push_back(place);
                if (isRegularFile(place))
                    found = place;
                else if (place.has_filename())
                    found = sameNameIgnoringCase(place.parent_path(), place.filename().string());
                if (!found.empty())
                    break;
            }
            if (!found.empty())
                break;
        }
        if (found.empty())
            return failure("The parent image \"" + ref.names.front() + "\" of " + childName +
                           " was not found. Looked for: " + joined(tried) + ". Name it with --parent PATH.");
    } else if (ref.identifies) {
        std::vector<std::filesystem::path> folders{folder.empty() ? "." : folder};
        std::error_code error;
        auto here = std::filesystem::absolute(folders.front(), error).lexically_normal();
        if (!here.has_filename())
            here = here.parent_path();
        // Snapshots are kept in a folder beside the disk they were taken of.
        if (!error && here.has_relative_path())
            folders.push_back(here.parent_path());
        const auto self = identityOf(childPath);
        for (const auto& place : folders) {
            for (const auto& file : filesIn(place))
                if (identityOf(file) != self && ref.identifies(file)) {
                    found = file;
                    break;
                }
            if (!found.empty())
                break;
        }
        if (found.empty())
            return failure("The parent image " + ref.description + " of " + childName +
                           " was not found among the files of " + joined(folders) + ". Name it with --parent PATH.");
    } else {
        return failure("The image " + childName + " names no parent. Name it with --parent PATH.");
    }

    const auto id = identityOf(found);
    if (id && std::find(chain.begin(), chain.end(), *id) != chain.end())
        return failure("The chain of images loops back to " + found.filename().string() + ".");

    const ImageFormat format = detectImageFormat(found);
    std::unique_ptr<readWriteInterface> parent = createReader(format);
    if (!child.parentPaths.empty())
        parent->parentPaths.assign(child.parentPaths.begin() + 1, child.parentPaths.end());
    parent->chainFiles = chain;
    if (!parent->open(found)) {
        const std::string why = parent->lastMessage();
        // A failure further down the chain names its own file already.
        if (why.starts_with(kParentFailure) || why.starts_with(kChainFailure))
            return failure(why);
        return failure("The parent image " + found.string() + " of " + childName + " cannot be read" +
                       (why.empty() ? std::string(".") : ": " + why));
    }

    const std::uint64_t childBytes = child.diskSectorCount * kSectorSize;
    const std::uint64_t parentBytes = parent->diskSectorCount * kSectorSize;
    child.layers = {ImageLayer{childPath, childFormat, childBytes, fileLength(childPath)}};
    if (parent->layers.empty())
        child.layers.push_back(ImageLayer{found, format, parentBytes, fileLength(found)});
    else
        child.layers.insert(child.layers.end(), parent->layers.begin(), parent->layers.end());
    if (parentBytes != childBytes)
        child.damage.push_back("The parent image " + found.filename().string() + " holds " +
                               std::to_string(parentBytes) + " bytes, " + childName + " " +
                               std::to_string(childBytes) + "; what lies past the parent's end reads as zeros.");
    for (const std::string& sentence : parent->damage)
        child.damage.push_back(found.filename().string() + ": " + sentence);
    // The parent's unreadable blocks may be covered by the child's own; counted anyway, since
    // telling would mean mapping every block now.
    child.unreadableBytes += std::min(parent->unreadableBytes, childBytes);
    return parent;
}

} // namespace qis

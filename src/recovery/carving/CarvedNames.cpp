#include "recovery/carving/CarvedNames.h"

#include "filesystems/EntryWalk.h"
#include "platform/OutputNames.h"

namespace qis {
namespace {

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool endsWithExtension(const std::u16string& name, const std::u16string& extension)
{
    if (extension.empty())
        return true;
    if (name.size() <= extension.size() || name[name.size() - extension.size() - 1] != u'.')
        return false;
    for (std::size_t i = 0; i < extension.size(); ++i)
        if (lower(name[name.size() - extension.size() + i]) != lower(extension[i]))
            return false;
    return true;
}

} // namespace

DeletedStarts deletedEntryStarts(VolumeParser& parser, const std::atomic<bool>& stop)
{
    DeletedStarts starts;
    std::vector<std::u16string> path;
    walkTreeEntries(parser, [&](EntryHandle e, std::size_t depth) {
        path.resize(depth);
        path.push_back(trimBlanks(parser.outputName(e)));
        if (stop.load() || parser.isFolder(e) || !parser.isDeleted(e))
            return;
        // Data another file holds now is that file's, whatever began there once.
        const Recoverability r = parser.recoverability(e);
        if (r == Recoverability::PartlyOverwritten || r == Recoverability::None)
            return;
        if (auto first = parser.firstDataByte(e))
            starts[*first].push_back({path, parser.details(e).size});
    });
    return starts;
}

std::size_t nameCarvedFiles(std::vector<CarvedFile>& files, const DeletedStarts& starts)
{
    std::size_t named = 0;
    for (CarvedFile& f : files) {
        auto at = starts.find(f.start);
        if (at == starts.end() || at->second.empty())
            continue;
        const DeletedStart* pick = &at->second.front();
        for (const DeletedStart& d : at->second)
            if (f.length >= 0 && d.size == static_cast<std::uint64_t>(f.length)) {
                pick = &d;
                break;
            }
        f.knownPath = pick->path;
        ++named;
    }
    return named;
}

std::vector<std::string> carvedOutputPath(const myJpg& engine, std::size_t index)
{
    const CarvedFile& f = engine.carvedFiles[index];
    if (f.knownPath.empty())
        return {outputComponent(engine.fileName(index))};
    std::vector<std::string> out;
    for (std::size_t i = 0; i + 1 < f.knownPath.size(); ++i)
        out.push_back(outputComponent(f.knownPath[i]));
    // A record that kept no name (an NTFS record without its $FILE_NAME)
    // still says which folder the file was in.
    std::u16string name = f.knownPath.back();
    const std::u16string& extension = f.extension.empty() ? engine.signatureTypes[f.typeId].extension : f.extension;
    if (name.empty())
        name = engine.fileName(index);
    else if (!endsWithExtension(name, extension))
        name += u"." + extension;
    out.push_back(outputComponent(name));
    return out;
}

} // namespace qis

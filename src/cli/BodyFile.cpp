#include "cli/BodyFile.h"

namespace qis::cli {
namespace {

// The file type as a letter: from the POSIX mode where the file system
// keeps one, else a folder or a regular file.
char typeLetter(const EntryDetails& d, bool folder)
{
    if (!d.mode)
        return folder ? 'd' : 'r';
    switch (*d.mode & 0170000) {
    case 0040000: return 'd';
    case 0100000: return 'r';
    case 0120000: return 'l';
    case 0020000: return 'c';
    case 0060000: return 'b';
    case 0010000: return 'p';
    case 0140000: return 's';
    default: return folder ? 'd' : 'r';
    }
}

// "rwxr-xr-x", with the set-id and sticky bits where ls shows them; every
// permission for a file system that has none.
std::string permissions(const EntryDetails& d)
{
    if (!d.mode)
        return "rwxrwxrwx";
    const std::uint32_t m = *d.mode;
    std::string p = "---------";
    const char letters[] = "rwx";
    for (int i = 0; i < 9; ++i)
        if (m & (0400u >> i))
            p[static_cast<std::size_t>(i)] = letters[i % 3];
    if (m & 04000)
        p[2] = (m & 0100) ? 's' : 'S';
    if (m & 02000)
        p[5] = (m & 0010) ? 's' : 'S';
    if (m & 01000)
        p[8] = (m & 0001) ? 't' : 'T';
    return p;
}

std::string seconds(const std::optional<UnixTime>& t) { return t ? std::to_string(t->seconds) : "0"; }

// A name holds no field separator and no line end, whatever the image says.
std::string field(std::string text)
{
    for (char& c : text)
        if (c == '|' || c == '\n' || c == '\r')
            c = '?';
    return text;
}

} // namespace

std::string bodyLine(VolumeParser& parser, EntryHandle entry, const std::string& path, const std::string& md5)
{
    const EntryDetails d = parser.details(entry);
    const bool folder = parser.isFolder(entry), deleted = parser.isDeleted(entry);
    const auto number = parser.entryNumber(entry);
    const char type = typeLetter(d, folder);
    // The mode as timeline tools show it: the name's type, then the
    // entry's; a deleted name's own type is unknown.
    const std::string mode = std::string(1, deleted ? '-' : type) + "/" + type + permissions(d);
    const std::optional<UnixTime> born = d.birth ? d.birth : d.creationIsChange ? std::nullopt : d.creation;
    return md5 + "|" + field("/" + path + (deleted ? " (deleted)" : "")) + "|" +
           (number ? std::to_string(*number) : "0") + "|" + mode + "|" + std::to_string(d.uid.value_or(0)) + "|" +
           std::to_string(d.gid.value_or(0)) + "|" + std::to_string(d.size) + "|" + seconds(d.access) + "|" +
           seconds(d.modification) + "|" + seconds(d.change) + "|" + seconds(born);
}

} // namespace qis::cli

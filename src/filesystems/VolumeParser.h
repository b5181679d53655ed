#pragma once

#include "platform/OutputFolder.h"
#include "util/ByteRun.h"
#include "util/FileTime.h"
#include "util/Utf.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qis {

// A parser's own key for one entry (a table position, an inode or catalog
// node number); kNoEntry ends a chain.
using EntryHandle = std::uint64_t;
inline constexpr EntryHandle kNoEntry = UINT64_MAX;

// How much of an entry's data can still be had: the list shows it beside a
// deleted entry and the save summary counts saved files by it.
enum class Recoverability : std::uint8_t {
    Live,              // not deleted: the file system still holds the data
    Whole,             // deleted, and everything its own record maps is still free
    Guessed,           // deleted, and read by a guess (clusters in a row from its first), not from a map
    PartlyOverwritten, // deleted, and some of what it maps now belongs to a live file
    Unknown,           // deleted, and nothing tells how much is left
    None,              // deleted, and nothing is left to read (its map was cleared)
};
inline constexpr std::size_t kRecoverabilityCount = 6;

// "whole", "guessed", "partly overwritten", "unknown", "none"; empty for a live entry.
std::string_view recoverabilityText(Recoverability r);

// What the file list shows of an entry, read when it is asked for.
struct EntryDetails {
    std::uint64_t size = 0;
    std::optional<UnixTime> creation, access, modification;
    std::string creationText, accessText, modificationText; // as the list shows them
    std::string sizeText;
    std::string attributeText;
    // What a timeline needs besides the three times above, where the file
    // system records it: when the entry's metadata last changed (NTFS's MFT
    // change time, ext's i_ctime, HFS+'s attributeModDate), when an ext4
    // inode was born (i_crtime), and the POSIX mode with its file-type bits
    // and the owner (ext inodes, HFS+ BSD info).
    std::optional<UnixTime> change, birth;
    // The creation time above is in truth the change time (ext has shown
    // i_ctime there): a timeline takes only `birth` as the file's birth.
    bool creationIsChange = false;
    std::optional<std::uint32_t> mode;
    std::optional<std::uint32_t> uid, gid;
};

// The one shape every file-system parser offers to the tree, the list,
// search and saving: entries linked by first child and next sibling.
class VolumeParser {
public:
    virtual ~VolumeParser() = default;

    // The entries shown at the top of the volume's tree.
    [[nodiscard]] virtual std::vector<EntryHandle> topLevel() const = 0;
    [[nodiscard]] virtual EntryHandle firstChild(EntryHandle entry) const = 0;
    [[nodiscard]] virtual EntryHandle nextSibling(EntryHandle entry) const = 0;
    [[nodiscard]] virtual std::u16string name(EntryHandle entry) const = 0;
    // The name as UTF-8, for parsers that keep their names that way.
    [[nodiscard]] virtual std::string nameUtf8(EntryHandle entry) const { return utf16ToUtf8(name(entry)); }
    [[nodiscard]] virtual bool isFolder(EntryHandle entry) const = 0;
    [[nodiscard]] virtual bool isDeleted(EntryHandle entry) const = 0;
    // The number the file system itself gives the entry, as forensic tools
    // show and take it: the MFT record number, the inode number, the catalog
    // node ID, or on FAT and exFAT the position of the entry's directory
    // entry (its byte offset from the volume's start over 32). nullopt for
    // entries the file system has no number for (a FAT root, the folders a
    // scan makes up to hold what it found).
    [[nodiscard]] virtual std::optional<std::uint64_t> entryNumber(EntryHandle) const { return std::nullopt; }
    virtual EntryDetails describe(EntryHandle entry) = 0;
    // The same without the display texts of the three times, for listings
    // of many entries that show the times their own way.
    virtual EntryDetails details(EntryHandle entry) { return describe(entry); }
    // How much of the entry's data a save can bring back (see Recoverability).
    // Parsers that can tell (free clusters, allocation bitmaps) say more than
    // this default.
    virtual Recoverability recoverability(EntryHandle entry)
    {
        return isDeleted(entry) ? Recoverability::Unknown : Recoverability::Live;
    }

    // The name the entry's output gets (before it is made a safe component).
    [[nodiscard]] virtual std::u16string outputName(EntryHandle entry) const { return name(entry); }
    // Entries a folder save names but does not write.
    [[nodiscard]] virtual bool skipOnSave(EntryHandle) const { return false; }
    // Writes the entry's contents; false when some of it could not be read
    // (what could be read is written, the rest as zeros).
    virtual bool saveEntry(EntryHandle entry, DataSink& out) = 0;
    // Reading `reading` of a guessed entry's data: 0 is saveEntry's, the
    // later ones other likely clusters for it, tried when the first does not
    // make a whole file of its kind. nullopt when there is no such reading;
    // else whether all of it could be read, as saveEntry says.
    virtual std::optional<bool> saveGuess(EntryHandle entry, std::size_t reading, DataSink& out)
    {
        return reading == 0 ? std::optional<bool>(saveEntry(entry, out)) : std::nullopt;
    }
    // Gives the entry another name for the rest of the parser's life.
    virtual void rename(EntryHandle entry, std::u16string name) = 0;

    // The space the file system marks free now, as byte runs from the
    // volume's first byte in rising order; nullopt when it cannot tell
    // (no allocation map of its own, or the map could not be found).
    virtual std::optional<std::vector<ByteRun>> unallocatedSpace() { return std::nullopt; }
    // The byte offset from the volume's start of the entry's first cluster
    // or block of data, where its record still says it; nullopt when the
    // data lives in the record itself, the file is empty, or nothing tells.
    // A carved file that starts there can take the entry's name.
    virtual std::optional<std::uint64_t> firstDataByte(EntryHandle) { return std::nullopt; }
};

// A name with blanks at either end dropped, as outputs are named.
inline std::u16string trimBlanks(std::u16string n)
{
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    while (!n.empty() && blank(n.back()))
        n.pop_back();
    std::size_t start = 0;
    while (start < n.size() && blank(n[start]))
        ++start;
    return n.substr(start);
}

} // namespace qis

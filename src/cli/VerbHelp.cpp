#include "cli/VerbHelp.h"

#include <array>
#include <string>

namespace qis::cli {
namespace {

constexpr std::string_view kVolume = "VOLUME is --volume N (as volumes prints it, with the --gpt/--mbr/--deep options "
                                     "that found it) or a custom volume: --start-sector S --fs LABEL --size-mb M.";

constexpr std::array<VerbHelp, 12> kVerbs{{
    {"info", "IMAGE [--json]", "Show what the image file says of itself and of its virtual disk.",
     "IMAGE is a VHDX, VHD (dynamic or fixed), VDI, VMDK (any kind; a descriptor file names its extents), qcow2 or raw "
     "disk image, told by its contents; it is only ever read."},
    {"volumes", "IMAGE [--gpt|--mbr] [--deep [--no-skip] [--start-sector N] [--end-sector N]] [--json]",
     "List the volumes of the virtual disk.",
     "The volumes come from the partition table (GPT when the first sector is a protective MBR, else MBR; --gpt or "
     "--mbr says which) or, with --deep, from a search of every sector for boot records. The index printed is what "
     "--volume N means in later commands."},
    {"list", "IMAGE VOLUME [MODE] [--formatted] [FILTERS] [--hash] [--json|--bodyfile]", "List a volume's whole tree, deleted entries included.",
     "Deleted and orphaned entries are listed where the file system keeps them; a deleted file shows how much of it "
     "can still be had. MODE is --mode standard (the default), --mode deep (NTFS, HFS+: the tree rebuilt from every "
     "MFT record or catalog leaf node found) or --mode advanced [--candidate K] [--sectors-per-cluster S] [--heap H] "
     "(the copy of the MFT or FAT that candidates found). FILTERS (--deleted, --live, --ext, --min-size, --max-size, "
     "--modified-after, --modified-before) keep only the entries asked for; with more than --deleted or --live, "
     "files only."},
    {"save", "IMAGE VOLUME [MODE] [--formatted] [--path TREEPATH|--entry N...] [FILTERS] [--skip-existing] [--report FILE] --output DIR",
     "Save a folder of a volume, deleted files included, with their times.",
     "The folder at TREEPATH (as list prints it; the whole volume without --path) is written into DIR. A name that "
     "is already in DIR gets a number (\"name (1)\") unless --skip-existing finds the file there whole. --entry N "
     "(repeatable) saves the entries with those numbers instead. --report FILE lists every file with its MD5 and "
     "SHA-256, taken as it is written."},
    {"search", "IMAGE VOLUME PATTERN [MODE] [--formatted] [FILTERS] [--json]", "List the files whose names match a pattern.",
     "PATTERN is an ECMAScript regular expression matched anywhere in the name, in any case (\"jpg|png\" finds "
     "both). Put -- before a pattern that begins with a dash."},
    {"candidates", "IMAGE VOLUME [--max N] [--json]",
     "Search a damaged volume for copies of the MFT, FATs and exFAT cluster heaps.",
     "For NTFS, FAT16, FAT32 and exFAT: at most N of each (3 by default), with the cluster sizes to try, the likeliest "
     "first. list and save --mode advanced read the volume with the one chosen."},
    {"carve", "IMAGE VOLUME|--disk [--signatures FILE]... [--no-default-signatures] [--category C]... [--report FILE] --output DIR",
     "Find files by their signatures, without a file system.",
     "Each file found is written into DIR/CATEGORY/, named by its byte offset (\"2097152 .jpg\"). The signatures are "
     "the default settings file and every --signatures FILE. A start of a kind whose structure is checked that holds "
     "no whole file is left out and counted, unless --keep-broken."},
    {"signatures add", "FILE --extension EXT --start BYTES --category C [OPTIONS]",
     "Add a file signature to a settings file (made when missing).",
     "BYTES are written as \"0xFF,0xD8,0xFF\". A size field (--size-offset, --size-bytes) gives the file's length; "
     "else the end signature or --approx-size ends it."},
    {"signatures list", "FILE [--json]", "Show the signatures of a settings file.", ""},
    {"export", "IMAGE --output PATH", "Write the whole virtual disk as a raw image.",
     "PATH a folder gets IMAGE's file name plus \".img\"; otherwise PATH is the new file. An existing file is not "
     "overwritten. Ctrl-C stops an export and keeps what was written."},
    {"cat", "IMAGE VOLUME [MODE] (--path TREEPATH | --entry N)", "Write one file's bytes to stdout.",
     "The file at TREEPATH (as list prints it) or with entry number N, deleted or not, as save would write it. The "
     "exit status is 3 when the file is incomplete, guessed or partly overwritten."},
    {"signatures", "add|list FILE ...", "Add to or show a signatures settings file.",
     "Run \"qsalvage signatures add --help\" or \"qsalvage signatures list --help\" for their options."},
}};

struct OptionRow {
    std::string_view verb; // empty: every verb
    std::string_view option;
    OptionHelp help;
};

constexpr std::array<OptionRow, 55> kOptions{{
    {"", "--json", {"", "Print the result as JSON (see docs/json.md)"}},
    {"", "--output", {"DIR", "The folder the files are written into (made when missing)"}},
    {"export", "--output", {"PATH", "The raw image to write, or a folder to write it into"}},
    {"", "--volume", {"N", "The volume, by its index in what volumes prints"}},
    {"", "--gpt", {"", "Read the partition table as GPT"}},
    {"", "--mbr", {"", "Read the partition table as MBR, even behind a protective MBR"}},
    {"", "--deep", {"", "Find the volumes by searching every sector for boot records"}},
    {"", "--no-skip", {"", "With --deep: search inside the volumes already found too"}},
    {"", "--start-sector", {"S", "A custom volume: its first sector (with --fs and --size-mb)"}},
    {"volumes", "--start-sector", {"N", "With --deep: the first sector searched"}},
    {"volumes", "--end-sector", {"N", "With --deep: the sector the search stops before"}},
    {"", "--fs", {"LABEL", "A custom volume's file system: NTFS, FAT16, FAT32, FAT64 (exFAT), extX or HFS+"}},
    {"", "--size-mb", {"M", "A custom volume's size in MB"}},
    {"", "--mode", {"MODE", "standard (the default), deep or advanced"}},
    {"", "--candidate", {"K", "--mode advanced: the copy of the MFT or FAT to read, counted from 0"}},
    {"", "--sectors-per-cluster", {"S", "--mode advanced: sectors per cluster (exFAT: the shift, 2^S sectors)"}},
    {"", "--heap", {"H", "--mode advanced, exFAT: the cluster heap to read, counted from 0"}},
    {"", "--max", {"N", "At most N copies of each kind (3 by default)"}},
    {"", "--formatted", {"", "FAT/exFAT formatted over its files: read folders and files from their first clusters"}},
    {"", "--path", {"TREEPATH", "The folder or file to save, as list prints it (the whole volume without it)"}},
    {"cat", "--path", {"TREEPATH", "The file, as list prints its path"}},
    {"", "--skip-existing", {"", "Leave a file already in DIR under its name and as long as it is"}},
    {"", "--signatures", {"FILE", "A signatures settings file to use as well (repeatable)"}},
    {"", "--no-default-signatures", {"", "Use only the --signatures files"}},
    {"", "--disk", {"", "Carve the whole virtual disk rather than one volume"}},
    {"", "--category", {"C", "Save only files of this category (repeatable, any case)"}},
    {"signatures add", "--category", {"C", "The category folder the files go into (Pictures, Documents, ...)"}},
    {"", "--no-validation", {"", "Keep each file as its signatures say, without checking its structure"}},
    {"", "--keep-broken", {"", "Also write starts whose structure holds no whole file"}},
    {"", "--unallocated", {"", "Search only where the volume's file system marks its space free"}},
    {"", "--extension", {"EXT", "The file name extension (jpg)"}},
    {"signatures add", "--ext", {"EXT", "The same as --extension"}},
    {"", "--ext", {"EXT,...", "Only files with these extensions (jpg,png; any case)"}},
    {"", "--min-size", {"N", "Only files of at least N bytes (K, M, G, T: binary multiples)"}},
    {"", "--max-size", {"N", "Only files of at most N bytes"}},
    {"", "--modified-after", {"TIME", "Only files modified at or after TIME (2024-03-15, 2024-03-15T10:30:00Z, @EPOCH; UTC)"}},
    {"", "--modified-before", {"TIME", "Only files modified before TIME"}},
    {"", "--start", {"BYTES", "The start signature (\"0xFF,0xD8,0xFF\")"}},
    {"", "--start-offset", {"N", "Where the start signature lies in the file"}},
    {"", "--end", {"BYTES", "The end signature"}},
    {"", "--size-offset", {"N", "Where a size field lies in the file"}},
    {"", "--size-bytes", {"N", "How many bytes the size field has"}},
    {"", "--size-includes-header", {"", "The size field counts the header too"}},
    {"", "--header-size", {"N", "The header's size in bytes"}},
    {"", "--skip", {"N", "Bytes to skip before looking for the end signature"}},
    {"", "--approx-size", {"N", "The length to take when nothing else ends the file"}},
    {"", "--report", {"FILE", "Write a report of every file (.json, .csv or DFXML .xml) with MD5 and SHA-256"}},
    {"", "--entry", {"N", "The entry by its number as list prints it (repeatable)"}},
    {"", "--hash", {"", "Add each file's MD5 and SHA-256, read as a save would write it"}},
    {"", "--bodyfile", {"", "Print the body format of timeline tools (mactime) instead of the table"}},
    {"", "--deleted", {"", "Only deleted entries (and orphans)"}},
    {"", "--live", {"", "Only entries that are not deleted"}},
    {"", "--quiet", {"", "No progress on stderr"}},
    {"", "--log", {"FILE", "Keep every status text, with its time, in FILE"}},
    {"", "--parent", {"PATH", "The parent of a differencing image, read instead of the one it names; again for the parent's parent"}},
}};

std::string g_verb;

} // namespace

const VerbHelp* verbHelp(std::string_view name)
{
    for (const VerbHelp& v : kVerbs)
        if (v.name == name)
            return &v;
    return nullptr;
}

OptionHelp optionHelp(std::string_view verb, std::string_view option)
{
    const OptionHelp* general = nullptr;
    for (const OptionRow& row : kOptions) {
        if (row.option != option)
            continue;
        if (row.verb == verb)
            return row.help;
        if (row.verb.empty())
            general = &row.help;
    }
    return general ? *general : OptionHelp{};
}

void setCurrentVerb(std::string_view name) { g_verb = name; }

std::string_view currentVerb() { return g_verb; }

std::string_view volumeParagraph() { return kVolume; }

} // namespace qis::cli

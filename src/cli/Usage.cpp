#include "cli/Commands.h"
#include "cli/VerbHelp.h"

#include <cstdio>

namespace qis::cli {
namespace {

constexpr char kUsage[] =
    "Usage:\n"
    "  qsalvage --version\n"
    "  qsalvage VERB --help            (a verb's options; also: qsalvage help VERB)\n"
    "  qsalvage info IMAGE [--json]\n"
    "  qsalvage volumes IMAGE [--gpt|--mbr] [--deep [--no-skip] [--start-sector N] [--end-sector N]] [--json]\n"
    "  qsalvage list IMAGE VOLUME [MODE] [--formatted] [FILTERS] [--hash] [--json|--bodyfile]\n"
    "  qsalvage save IMAGE VOLUME [MODE] [--formatted] [--path TREEPATH|--entry N...] [FILTERS]\n"
    "                 [--skip-existing] [--report FILE] --output DIR\n"
    "  qsalvage cat IMAGE VOLUME [MODE] --path TREEPATH|--entry N\n"
    "  qsalvage candidates IMAGE VOLUME [--max N] [--json]\n"
    "  qsalvage carve IMAGE VOLUME|--disk [--signatures FILE]... [--no-default-signatures]\n"
    "                 [--category C]... [--ext EXT,...] [--min-size N] [--max-size N] [--no-validation]\n"
    "                 [--keep-broken] [--unallocated] [--report FILE] --output DIR [--json]\n"
    "  qsalvage signatures add FILE --extension EXT --start BYTES [--start-offset N] [--end BYTES]\n"
    "                 [--size-offset N --size-bytes N [--size-includes-header] [--header-size N]]\n"
    "                 [--skip N] [--approx-size N] --category C\n"
    "  qsalvage signatures list FILE [--json]\n"
    "  qsalvage search IMAGE VOLUME PATTERN [MODE] [--formatted] [FILTERS] [--json]\n"
    "  qsalvage export IMAGE --output PATH\n"
    "\n"
    "FILTERS are --deleted or --live, --ext jpg,png (any case), --min-size N and\n"
    "--max-size N (bytes; K, M, G, T binary), --modified-after T and\n"
    "--modified-before T (UTC: 2024-03-15, 2024-03-15T10:30:00Z or @EPOCH; after\n"
    "is at or after, before is before); with more than --deleted/--live only\n"
    "files are kept. carve takes --ext and the sizes.\n"
    "Every verb takes --quiet (no progress lines) and --log FILE (status texts\n"
    "with their times), --opt=value as well as --opt value, and -- before\n"
    "positional words that begin with a dash.\n"
    "IMAGE is a VHDX, VHD (dynamic or fixed), VDI, VMDK (any kind; a descriptor\n"
    "file names its extents), qcow2 or raw disk image, told by its contents; it\n"
    "is only ever read. export writes the whole virtual disk as a\n"
    "raw image: PATH a folder gets IMAGE's file name plus \".img\", otherwise PATH\n"
    "is the new file. Ctrl-C stops an export and keeps what was written.\n"
    "volumes lists the disk's volumes from its partition table (GPT when the\n"
    "first sector is a protective MBR, else MBR; --gpt or --mbr says which) or,\n"
    "with --deep, by searching every sector for boot records; the VOLUME number\n"
    "is what --volume N means in later commands.\n"
    "VOLUME is --volume N (with the --gpt/--mbr/--deep options that found it) or a\n"
    "custom volume: --start-sector S --fs LABEL --size-mb M (LABEL NTFS, FAT16,\n"
    "FAT32, FAT64 for exFAT, extX or HFS+). list shows the volume's whole tree,\n"
    "deleted and orphaned entries included where the file system keeps them;\n"
    "save writes the folder at TREEPATH (as list prints it; the whole volume\n"
    "without --path) into DIR with the files' times, deleted files too; with\n"
    "--skip-existing a file already in DIR under its name and as long is left\n"
    "as it is rather than written again as \"name (1)\". search\n"
    "lists the files whose names contain a match of PATTERN (ECMAScript regular\n"
    "expression, any case; \"jpg|png\" finds both). --formatted is for a FAT or\n"
    "exFAT volume formatted over its files: folders are read from their first\n"
    "cluster and files from consecutive clusters, as deleted files are best found.\n"
    "MODE is --mode standard (the default), --mode deep or --mode advanced\n"
    "[--candidate K] [--sectors-per-cluster S] [--heap H] [--max N], for volumes\n"
    "whose boot sector or tables are damaged. --mode deep (NTFS, HFS+) rebuilds\n"
    "the tree from every MFT record or catalog leaf node found on the volume,\n"
    "under ORPHAN_ENTRY. candidates (NTFS, FAT16, FAT32, exFAT) searches the\n"
    "volume for copies of the MFT, for FATs and for exFAT cluster heaps (at most\n"
    "N of each, 3 by default) and prints them with the cluster sizes to try, the\n"
    "likeliest first; --mode advanced reads the volume with candidate K, heap H\n"
    "(both counted from 0) and S sectors per cluster (for exFAT the shift: 2^S\n"
    "sectors), each the first offered when not given. Entries no folder reaches\n"
    "are listed under ORPHAN ENTRY. Ctrl-C stops a search and keeps what was found.\n"
    "carve finds files by their signatures in the volume (or the whole disk with\n"
    "--disk), without a file system, and writes each into DIR/CATEGORY/ named by\n"
    "its byte offset (\"2097152 .jpg\"); --category saves only those categories;\n"
    "--unallocated looks for files only where the volume's file system marks\n"
    "its space free; a start of a kind whose structure is checked that holds no\n"
    "whole file is left out and counted, unless --keep-broken.\n"
    "list shows each entry's number (MFT record, inode, catalog node ID, FAT and\n"
    "exFAT directory-entry position / 32); cat --entry N writes that file to\n"
    "stdout and save --entry N (repeatable) saves those entries. --report FILE\n"
    "(.json, .csv or .xml for DFXML) lists every file save or carve wrote with\n"
    "its MD5 and SHA-256, taken while it was written; list --hash adds them\n"
    "without saving; list --bodyfile prints the body format mactime reads.\n"
    "The default signatures are FileSetting.txt in the install's share/qsalvage,\n"
    "beside qsalvage, or in ~/.local/share/qsalvage; and every --signatures\n"
    "FILE, settings files that signatures add writes (BYTES: \"0xFF,0xD8,0xFF\").\n";

} // namespace

void printUsage() { std::fputs(kUsage, stdout); }

void printVersion() { std::fputs("qsalvage (Quenmar Image Salvage) " QIS_VERSION "\n", stdout); }

int usageError(const std::string& why)
{
    // Within a verb, its own synopsis says more than every verb's.
    if (const VerbHelp* verb = verbHelp(currentVerb())) {
        const std::string name(verb->name), synopsis(verb->synopsis);
        std::fprintf(stderr, "qsalvage %s: %s\nUsage: qsalvage %s %s\nRun \"qsalvage %s --help\" for its options.\n",
                     name.c_str(), why.c_str(), name.c_str(), synopsis.c_str(), name.c_str());
        return kExitUsage;
    }
    std::fprintf(stderr, "qsalvage: %s\n\n%s", why.c_str(), kUsage);
    return kExitUsage;
}

} // namespace qis::cli

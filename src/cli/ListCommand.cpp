#include "cli/Arguments.h"
#include "cli/BodyFile.h"
#include "cli/Commands.h"
#include "cli/FilterOptions.h"
#include "cli/ListedName.h"
#include "cli/ScannedVolume.h"
#include "cli/VolumeSelection.h"
#include "filesystems/EntryWalk.h"
#include "recovery/EntryHash.h"

#include <cstdio>

namespace qis::cli {
namespace {

// The UTF-8 path of the entry a depth-first walk has reached: the walk's
// ancestors are the same as at the last visit, so only the entry's own
// name is looked up. Plain text escapes each name (listedName); JSON
// escapes the whole string itself.
class TreePathText {
public:
    explicit TreePathText(bool escaped) : escaped_(escaped) {}

    const std::string& of(const VolumeParser& parser, EntryHandle e, std::size_t depth)
    {
        parts_.resize(depth + 1);
        parts_.back() = escaped_ ? listedName(parser.nameUtf8(e)) : parser.nameUtf8(e);
        joined_.clear();
        for (const auto& part : parts_) {
            if (!joined_.empty())
                joined_ += '/';
            joined_ += part;
        }
        return joined_;
    }

private:
    bool escaped_;
    std::vector<std::string> parts_;
    std::string joined_;
};

} // namespace

int runList(const std::vector<std::string>& words)
{
    std::vector<std::string> flags = withFilterFlags(kVolumeFlags);
    flags.insert(flags.end(), {"--json", "--hash", "--bodyfile"});
    Arguments args("list", words, withFilterValues(kVolumeValueOptions), flags);
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 1)
        return usageError("list takes one IMAGE and a volume");
    std::string why;
    const auto filter = filterFrom(args, why);
    if (!filter)
        return usageError(why);
    const bool body = args.flag("--bodyfile");
    if (args.flag("--json") && body)
        return usageError("--json and --bodyfile are two ways to print the list: give one");
    CliReporter reporter;
    int exitCode = kExitOk;
    auto scanned = scanVolume(args, reporter, exitCode);
    reporter.finish();
    if (!scanned)
        return exitCode;

    bool json = args.flag("--json");
    bool first = true;
    if (json)
        std::printf("%s", listJsonHead(*scanned).c_str());
    // The body format and JSON take names as they are.
    TreePathText text(!json && !body);
    const bool hash = args.flag("--hash");
    std::uint64_t incompleteHashes = 0;
    std::string out;
    walkTreeEntries(*scanned->parser, [&](EntryHandle e, std::size_t depth) {
        // Every entry's name goes into the path, kept or not: its
        // children's paths go through it.
        const std::string& p = text.of(*scanned->parser, e, depth);
        if (!filter->keeps(*scanned->parser, e))
            return;
        // --hash reads each file as a save would write it, and writes it nowhere.
        std::optional<EntryHash> hashed;
        if (hash && !scanned->parser->isFolder(e)) {
            hashed = hashEntry(*scanned->parser, e);
            incompleteHashes += hashed->complete ? 0 : 1;
        }
        if (body) {
            out += bodyLine(*scanned->parser, e, p, hashed ? hashed->hashes.md5 : std::string("0"));
            out += '\n';
        } else if (json) {
            out += first ? "\n  " : ",\n  ";
            if (hash) {
                Json entry = entryObject(*scanned->parser, e, p);
                entry["md5"] = hashed ? Json(hashed->hashes.md5) : Json(nullptr);
                entry["sha256"] = hashed ? Json(hashed->hashes.sha256) : Json(nullptr);
                entry["hashComplete"] = hashed ? Json(hashed->complete) : Json(nullptr);
                appendJsonLine(out, entry);
            } else {
                appendEntryJson(out, *scanned->parser, e, p);
            }
        } else {
            const std::string hashes =
                !hash ? std::string() : hashed ? hashed->hashes.md5 + " " + hashed->hashes.sha256 + "  "
                                               : std::string(32 + 1 + 64 + 2, ' ');
            out += entryLine(*scanned->parser, e, p, hashes);
            out += '\n';
        }
        first = false;
        if (out.size() > (1u << 16)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    });
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (json)
        std::printf("%s%s\n", first ? "" : "\n", listJsonTail(*scanned).c_str());
    if (incompleteHashes != 0) {
        std::fprintf(stderr, "%llu files could not be read whole: their hashes are of what a save would write "
                             "(zeros where the image could not be read).\n",
                     static_cast<unsigned long long>(incompleteHashes));
        if (scanned->scanExit == kExitOk)
            scanned->scanExit = kExitIncomplete;
    }
    if (scanned->interrupted) {
        std::fprintf(stderr, "Stopped while the volume was read: what was found before is listed.\n");
        return kExitStopped;
    }
    return scanned->scanExit;
}

} // namespace qis::cli

#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/FilterOptions.h"
#include "cli/ListedName.h"
#include "cli/ScannedVolume.h"
#include "cli/VolumeSelection.h"
#include "filesystems/EntryWalk.h"

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
    flags.push_back("--json");
    Arguments args("list", words, withFilterValues(kVolumeValueOptions), flags);
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 1)
        return usageError("list takes one IMAGE and a volume");
    std::string why;
    const auto filter = filterFrom(args, why);
    if (!filter)
        return usageError(why);
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
    TreePathText text(!json);
    std::string out;
    walkTreeEntries(*scanned->parser, [&](EntryHandle e, std::size_t depth) {
        // Every entry's name goes into the path, kept or not: its
        // children's paths go through it.
        const std::string& p = text.of(*scanned->parser, e, depth);
        if (!filter->keeps(*scanned->parser, e))
            return;
        if (json) {
            out += first ? "\n  " : ",\n  ";
            appendEntryJson(out, *scanned->parser, e, p);
        } else {
            out += entryLine(*scanned->parser, e, p);
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
    if (scanned->interrupted) {
        std::fprintf(stderr, "Stopped while the volume was read: what was found before is listed.\n");
        return kExitStopped;
    }
    return scanned->scanExit;
}

} // namespace qis::cli

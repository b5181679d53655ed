#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/ScannedVolume.h"
#include "cli/VolumeSelection.h"
#include "filesystems/EntryWalk.h"
#include "util/Utf.h"

#include <cstdio>

namespace qis::cli {
namespace {

std::string joinTreePath(const std::vector<std::u16string>& path)
{
    std::string joined;
    for (const auto& part : path) {
        if (!joined.empty())
            joined += '/';
        joined += utf16ToUtf8(part);
    }
    return joined;
}

} // namespace

int runList(const std::vector<std::string>& words)
{
    std::vector<std::string> flags = kVolumeFlags;
    flags.push_back("--json");
    Arguments args(words, kVolumeValueOptions, flags);
    if (!args.ok())
        return usageError(args.error());
    if (args.positional().size() != 1)
        return usageError("list takes one IMAGE and a volume");
    CliReporter reporter;
    int exitCode = kExitOk;
    auto scanned = scanVolume(args, reporter, exitCode);
    reporter.finish();
    if (!scanned)
        return exitCode;

    bool json = args.flag("--json");
    bool first = true;
    if (json)
        std::printf("[");
    walkTree(*scanned->parser, [&](EntryHandle e, const std::vector<std::u16string>& path) {
        std::string p = joinTreePath(path);
        if (json)
            std::printf("%s\n  %s", first ? "" : ",", entryJson(*scanned->parser, e, p).c_str());
        else
            std::printf("%s\n", entryLine(*scanned->parser, e, p).c_str());
        first = false;
    });
    if (json)
        std::printf("%s]\n", first ? "" : "\n");
    return kExitOk;
}

} // namespace qis::cli

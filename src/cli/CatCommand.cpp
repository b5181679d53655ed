#include "cli/Arguments.h"
#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "cli/ScannedVolume.h"
#include "cli/VolumeSelection.h"
#include "recovery/GuessedFileCheck.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace qis::cli {
namespace {

// A file's bytes onto stdout, as they come; a hole is written as zeros,
// since a pipe cannot seek.
class StdoutSink : public DataSink {
public:
    bool write(std::span<const std::uint8_t> data) override
    {
        while (!data.empty()) {
            const ssize_t n = ::write(STDOUT_FILENO, data.data(), data.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                return false;
            }
            data = data.subspan(static_cast<std::size_t>(n));
        }
        return true;
    }
    bool skip(std::uint64_t bytes) override
    {
        static const std::uint8_t zeros[65536] = {};
        while (bytes > 0) {
            const std::size_t n = bytes < sizeof zeros ? static_cast<std::size_t>(bytes) : sizeof zeros;
            if (!write({zeros, n}))
                return false;
            bytes -= n;
        }
        return true;
    }
    int error = 0;
};

} // namespace

int runCat(const std::vector<std::string>& words)
{
    std::vector<std::string> values = kVolumeValueOptions;
    values.insert(values.end(), {"--path", "--entry"});
    Arguments args("cat", words, values, kVolumeFlags);
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 1 || args.value("--path").has_value() == args.value("--entry").has_value())
        return usageError("cat takes one IMAGE, a volume and --path TREEPATH or --entry N");
    std::vector<std::uint64_t> numbers;
    if (std::string why; !entryNumbersFrom(args.values("--entry"), numbers, why) || numbers.size() > 1)
        return usageError(why.empty() ? "cat writes one file: give one --entry" : why);

    CliReporter reporter;
    int exitCode = kExitOk;
    auto scanned = scanVolume(args, reporter, exitCode);
    reporter.finish();
    if (!scanned)
        return exitCode;
    VolumeParser& parser = *scanned->parser;
    std::string path;
    std::optional<EntryHandle> entry;
    if (numbers.empty()) {
        path = *args.value("--path");
        entry = findTreePath(parser, path);
    } else if (auto found = findEntryNumber(parser, numbers[0]); !found.empty()) {
        // Two names of one file (hard links) are the same bytes.
        entry = found[0].entry;
        path = found[0].path;
    } else {
        path = "entry " + std::to_string(numbers[0]);
    }
    if (!entry || *entry == kNoEntry) {
        std::fprintf(stderr, "There is no %s on this volume.\n", path.c_str());
        return kExitFailure;
    }
    if (parser.isFolder(*entry)) {
        std::fprintf(stderr, "%s is a folder: save writes a folder.\n", path.c_str());
        return kExitFailure;
    }
    StdoutSink out;
    const Recoverability recoverability = parser.recoverability(*entry);
    const bool guessed = recoverability == Recoverability::Guessed;
    const bool complete = guessed ? saveGuessed(parser, *entry, out).complete : parser.saveEntry(*entry, out);
    if (out.error != 0) {
        std::fprintf(stderr, "The file could not be written to stdout: %s\n", std::strerror(out.error));
        return kExitFailure;
    }
    // What was written is all there is to have, but not all there was.
    if (!complete || guessed || recoverability == Recoverability::PartlyOverwritten) {
        std::fprintf(stderr, "%s is %s: what was written may not be the file as it was.\n", path.c_str(),
                     !complete ? "incomplete (unreadable parts written as zeros)"
                               : std::string(recoverabilityText(recoverability)).c_str());
        return kExitIncomplete;
    }
    return scanned->scanExit;
}

} // namespace qis::cli

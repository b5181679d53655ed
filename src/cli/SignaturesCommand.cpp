#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/Json.h"
#include "cli/VerbHelp.h"
#include "recovery/carving/SignatureEditor.h"
#include "recovery/carving/SignatureFile.h"
#include "util/Utf.h"

#include <cstdio>
#include <fstream>

namespace qis::cli {
namespace {

std::string hexBytes(const std::array<std::uint8_t, SignatureRecord::kMaxSignatureBytes>& bytes, std::size_t n)
{
    std::string out;
    char piece[8];
    for (std::size_t i = 0; i < std::min(n, bytes.size()); ++i) {
        std::snprintf(piece, sizeof piece, i ? ",0x%02X" : "0x%02X", bytes[i]);
        out += piece;
    }
    return out;
}

int add(const std::vector<std::string>& words)
{
    static const std::vector<std::string> kFields = {"--extension", "--ext", "--start",  "--start-offset", "--end",
                                                     "--size-offset", "--size-bytes", "--header-size", "--skip",
                                                     "--approx-size", "--category"};
    Arguments args("signatures add", words, kFields, {"--size-includes-header"});
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 1)
        return usageError("signatures add takes one FILE");
    const std::filesystem::path file = args.positional()[0];
    // The settings file is made when it is not there; records are added at its end.
    if (!std::filesystem::exists(file))
        std::ofstream(file, std::ios::binary);
    SignatureFields f;
    auto field = [&](const char* name) { return args.value(name).value_or(""); };
    f.extension = args.value("--extension").value_or(field("--ext"));
    f.startSignature = field("--start");
    f.startOffset = field("--start-offset");
    f.endSignature = field("--end");
    f.offsetToSize = field("--size-offset");
    f.bytesInSize = field("--size-bytes");
    f.sizeIncludesHeader = args.flag("--size-includes-header");
    f.headerSize = field("--header-size");
    f.skipSize = field("--skip");
    f.approxSize = field("--approx-size");
    f.category = field("--category");
    const std::string message = appendSignatureRecord(file, f);
    const bool written = message == "everything initialized well.....";
    if (written)
        std::printf("%s\n", message.c_str());
    else if (const std::string told = withReason(message, file); told != message)
        std::fprintf(stderr, "%s: %s\n", file.c_str(), told.c_str());
    else
        std::fprintf(stderr, "%s\n", message.c_str()); // a field of the record, not the file
    return written ? kExitOk : kExitFailure;
}

int list(const std::vector<std::string>& words)
{
    Arguments args("signatures list", words, {}, {"--json"});
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 1)
        return usageError("signatures list takes one FILE");
    std::vector<SignatureRecord> records;
    std::string message;
    if (!readSignatureFile(args.positional()[0], records, message)) {
        std::fprintf(stderr, "%s: %s\n", args.positional()[0].c_str(),
                     withReason(message, args.positional()[0]).c_str());
        return kExitFailure;
    }
    const bool json = args.flag("--json");
    std::string out = json ? "[" : "";
    for (const SignatureRecord& r : records) {
        const std::string ext = utf16ToUtf8(r.extension), category = utf16ToUtf8(r.category);
        const std::string start = hexBytes(r.startSignature, r.startLength), end = hexBytes(r.endSignature, r.endLength);
        if (json) {
            out += out.size() > 1 ? ",\n  " : "\n  ";
            appendJsonLine(out, Json{{"index", r.recordIndex},
                                     {"extension", ext},
                                     {"start", start},
                                     {"startOffset", r.startOffset},
                                     {"end", end},
                                     {"sizeOffset", r.offsetToSize},
                                     {"sizeBytes", r.bytesInSize},
                                     {"headerSize", r.headerSize},
                                     {"sizeIncludesHeader", r.sizeIncludesHeader},
                                     {"approxSize", r.approxSize},
                                     {"skip", r.skipSize},
                                     {"category", category}});
            continue;
        }
        char line[160];
        std::snprintf(line, sizeof line, "%3u  %-5s %-10s ", r.recordIndex, ext.c_str(), category.c_str());
        out += line;
        out += "start " + start + (r.startOffset ? " at " + std::to_string(r.startOffset) : std::string());
        if (r.endLength)
            out += "  end " + end;
        if (r.offsetToSize > 0)
            out += "  size " + std::to_string(r.bytesInSize) + " bytes at " + std::to_string(r.offsetToSize);
        if (r.approxSize > 0)
            out += "  about " + std::to_string(r.approxSize) + " bytes";
        out += '\n';
    }
    if (json)
        out += records.empty() ? "]\n" : "\n]\n";
    std::fputs(out.c_str(), stdout);
    return kExitOk;
}

} // namespace

int runSignatures(const std::vector<std::string>& words)
{
    if (words.empty())
        return usageError("signatures needs add or list");
    std::vector<std::string> rest(words.begin() + 1, words.end());
    if (words[0] == "add") {
        setCurrentVerb("signatures add");
        return add(rest);
    }
    if (words[0] == "list") {
        setCurrentVerb("signatures list");
        return list(rest);
    }
    if (words[0] == "-h" || words[0] == "--help")
        return *Arguments("signatures", words, {}, {}).exitNow();
    return usageError("signatures needs add or list, not " + words[0]);
}

} // namespace qis::cli

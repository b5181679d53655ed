#include "cli/Arguments.h"
#include "cli/CarveScope.h"
#include "cli/CarveEntryNames.h"
#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/FilterOptions.h"
#include "cli/ReportOption.h"
#include "cli/ImageOpening.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/VolumeSelection.h"
#include "filesystems/VolumeSweep.h"
#include "platform/OutputFolder.h"
#include "images/VolumeBytes.h"
#include "images/WizardState.h"
#include "recovery/carving/CarvedSave.h"
#include "recovery/carving/DefaultSignaturePlaces.h"
#include "recovery/carving/SignatureFile.h"
#include "recovery/carving/myJpg.h"
#include "util/Ascii.h"
#include "util/Utf.h"
#include "volumes/AllocationUnit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qis::cli {
namespace {

// The search's page: the engine ends with its own "done.." box, which the
// raw recovery page shows even after Stop; on the command line it is only
// said when the search did reach the end.
class SearchReporter : public JobReporter {
public:
    SearchReporter(CliReporter& inner, const myJpg& engine) : inner_(inner), engine_(engine) {}
    void setStatusText(std::string_view text) override { inner_.setStatusText(text); }
    void setDetailText(std::string_view text) override { inner_.setDetailText(text); }
    void setProgressRange(std::int32_t low, std::int32_t high) override { inner_.setProgressRange(low, high); }
    void setProgressPos(std::int32_t position) override { inner_.setProgressPos(position); }
    MessageResult showMessage(std::string_view text, MessageIcon icon, MessageButtons buttons) override
    {
        if (engine_.scanStopped && text == "done..")
            return MessageResult::Ok;
        return inner_.showMessage(text, icon, buttons);
    }

private:
    CliReporter& inner_;
    const myJpg& engine_;
};

// Loads the default signatures from the first place that holds them;
// returns what to tell the user should that load none.
std::string loadDefaultSignaturesFound(myJpg& engine)
{
    DefaultSignatureSearch search = findDefaultSignatures();
    if (!search.found.empty()) {
        loadDefaultSignatures(search.found, engine);
        return "the default " + search.found.string() + " holds no usable signature";
    }
    std::string places;
    for (const std::filesystem::path& place : search.lookedIn)
        places += (places.empty() ? "" : ", ") + place.string();
    return std::string("the default ") + kDefaultSignatureFile + " is in none of " + places;
}

} // namespace

int runCarve(const std::vector<std::string>& words)
{
    std::vector<std::string> flags = kVolumeFlags;
    flags.insert(flags.end(), {"--json", "--no-default-signatures", "--disk", "--no-validation", "--unallocated", "--keep-broken"});
    std::vector<std::string> values = kVolumeValueOptions;
    values.insert(values.end(), {"--signatures", "--category", "--output", "--ext", "--min-size", "--max-size", "--report"});
    Arguments args("carve", words, values, flags);
    if (auto done = args.exitNow())
        return *done;
    if (args.positional().size() != 1)
        return usageError("carve takes one IMAGE and a volume (or --disk)");
    auto output = args.value("--output");
    if (!output)
        return usageError("carve needs --output DIR");
    // A carved file has a kind and a length, no name, time or deleted state.
    std::string why;
    const auto filter = filterFrom(args, why);
    if (!filter)
        return usageError(why);
    ReportOption report;
    if (int exit = kExitOk; !report.read(args, exit))
        return exit;

    myJpg engine;
    std::string noDefaults = "--no-default-signatures was given";
    if (!args.flag("--no-default-signatures"))
        noDefaults = loadDefaultSignaturesFound(engine);
    for (const std::string& file : args.values("--signatures")) {
        std::string message;
        if (!loadSignatureFile(file, engine, message)) {
            std::fprintf(stderr, "%s: %s\n", file.c_str(), withReason(message, file).c_str());
            return kExitFailure;
        }
    }
    if (engine.signatureTypes.empty()) {
        std::fprintf(stderr, "No signatures are loaded: %s, and no --signatures FILE was given.\n", noDefaults.c_str());
        return kExitFailure;
    }

    // The categories asked for, as the signatures spell them (any case will
    // do); one no signature has is refused before the volume is searched.
    std::vector<std::u16string> categories;
    for (const SignatureType& t : engine.signatureTypes)
        if (std::find(categories.begin(), categories.end(), t.category) == categories.end())
            categories.push_back(t.category);
    std::vector<std::u16string> chosen;
    for (const std::string& asked : args.values("--category")) {
        auto known = std::find_if(categories.begin(), categories.end(),
                                  [&](const std::u16string& c) { return toLowerAscii(utf16ToUtf8(c)) == toLowerAscii(asked); });
        if (known == categories.end()) {
            std::string names;
            for (const std::u16string& c : categories)
                names += (names.empty() ? "" : ", ") + utf16ToUtf8(c);
            return usageError("no signature has the category \"" + asked + "\"; the categories are " + names);
        }
        chosen.push_back(*known);
    }

    // A folder that cannot take the files is refused before the volume is searched.
    int error = 0;
    auto root = OutputFolder::open(*output, &error);
    if (!root) {
        std::fprintf(stderr, "The output folder %s cannot be made or written to: %s\n", output->c_str(),
                     std::strerror(error));
        return kExitFailure;
    }

    WizardState state;
    if (!openImage(state, args.positional()[0]))
        return kExitFailure;
    readWriteInterface& reader = *state.currentReader;
    std::int64_t startSector = 0;
    std::optional<VolumeRecord> volume;
    if (args.flag("--disk")) {
        engine.scanSize = state.diskSectorCount * kSectorSize;
    } else {
        bool usage = false;
        volume = selectVolume(args, state, &usage);
        if (!volume)
            return usage ? kExitUsage : kExitFailure;
        startSector = volume->startSector;
        engine.scanSize = volumeBytesFromSizeText(volume->sizeText);
    }
    if (args.flag("--unallocated"))
        if (int exit = limitToFreeSpace(args, engine); exit != kExitOk)
            return exit;
    reader.baseOffset = startSector * static_cast<std::int64_t>(kSectorSize);
    engine.reader = &reader;
    if (!args.flag("--disk")) {
        // A file written around another is split at a cluster boundary.
        std::vector<std::uint8_t> start(2048);
        readVolumeBytes(reader, 0, start);
        if (const std::uint64_t unit = allocationUnitBytes(start))
            engine.fragmentSearch.blockSizes = {unit};
    }
    engine.validateLengths = !args.flag("--no-validation");
    engine.keepBroken = args.flag("--keep-broken");
    {
        CliReporter reporter;
        reporter.setProgressBytes(engine.scanSize);
        SearchReporter page(reporter, engine);
        StopOnInterrupt interrupt(engine.rawStopRequested);
        JobRunner runner(page);
        runner.start([&](JobContext& job) { engine.carveVolume(job, nullptr); });
        runner.join();
        reporter.finish();
    }

    // A volume's file system may still say whose data a carved file is.
    std::size_t named = 0;
    bool namingInterrupted = false;
    if (volume && !engine.scanStopped && !engine.carvedFiles.empty())
        named = nameFromDeletedEntries(engine, *volume, reader, namingInterrupted);

    // Every file is saved, or those of the categories asked for.
    auto wanted = [&](std::size_t i) {
        const std::u16string& category = engine.categoryOf(i);
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), category) == chosen.end())
            return false;
        const CarvedFile& f = engine.carvedFiles[i];
        return filter->keepsName(utf16ToUtf8(engine.fileName(i))) &&
               filter->keepsSize(f.length > 0 ? static_cast<std::uint64_t>(f.length) : 0);
    };
    CarvedSaveResult saved;
    saved.savedAs.resize(engine.carvedFiles.size());
    saved.stopped = namingInterrupted;
    if (!namingInterrupted) {
        // Ctrl-C during the save ends it between files: what is written is whole.
        CliReporter reporter;
        StopOnInterrupt interrupt(engine.rawStopRequested);
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) {
            saved = saveCarvedFiles(engine, reader, *root, wanted, engine.rawStopRequested, job, report.collector());
        });
        runner.join();
        // A Ctrl-C between the search and the first file still stops the save.
        saved.stopped = saved.stopped || interrupt.interrupted();
        reporter.finish();
    }
    const std::vector<std::string>& savedAs = saved.savedAs;
    const std::size_t failed = saved.failed;
    const bool complete = !engine.scanStopped && !saved.stopped;

    // The counts per category in the order the signatures name them.
    const std::vector<std::u16string>& order = categories;
    if (args.flag("--json")) {
        Json counts = Json::array();
        for (const std::u16string& category : order)
            counts.push_back({{"name", utf16ToUtf8(category)}, {"count", engine.categoryCounts[category]}});
        std::string out = "{\"schema\": " + std::to_string(kJsonSchema) + ", \"complete\": ";
        out += complete ? "true" : "false";
        out += ",\n \"brokenStarts\": " + std::to_string(engine.brokenStarts) + ",\n \"categories\": ";
        appendJsonLine(out, counts);
        out += ",\n \"files\": [";
        for (std::size_t i = 0; i < engine.carvedFiles.size(); ++i) {
            const CarvedFile& f = engine.carvedFiles[i];
            Json file = {{"category", utf16ToUtf8(engine.categoryOf(i))},
                         {"name", utf16ToUtf8(engine.fileName(i))},
                         {"offset", f.start},
                         {"length", f.length},
                         {"validated", f.validated}};
            if (!f.pieces.empty()) {
                Json pieces = Json::array();
                for (const auto& piece : f.pieces)
                    pieces.push_back({{"offset", piece.offset}, {"length", piece.length}});
                file["pieces"] = std::move(pieces);
            }
            file["path"] = savedAs[i].empty() ? Json(nullptr) : Json(savedAs[i]);
            std::string entryPath;
            for (const std::u16string& part : f.knownPath)
                entryPath += (entryPath.empty() ? "" : "/") + utf16ToUtf8(part);
            file["entryPath"] = f.knownPath.empty() ? Json(nullptr) : Json(entryPath);
            out += i ? ",\n  " : "\n  ";
            appendJsonLine(out, file);
        }
        out += "\n]}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        for (const std::u16string& category : order)
            std::printf("%s (%llu)\n", utf16ToUtf8(category).c_str(),
                        static_cast<unsigned long long>(engine.categoryCounts[category]));
        reportFreeSpaceScanned(engine);
        if (filter->asksFiles())
            std::printf("Files saved of the kinds and sizes asked for: %zu (of %zu found).\n", saved.written,
                        engine.carvedFiles.size());
        else if (!chosen.empty())
            std::printf("Files saved of the categories asked for: %zu (of %zu found).\n", saved.written,
                        engine.carvedFiles.size());
        if (engine.brokenStarts != 0)
            std::printf("%llu more starts of kinds whose structure is checked held no whole file and were left out "
                        "(--keep-broken saves them as far as their signatures reach).\n",
                        static_cast<unsigned long long>(engine.brokenStarts));
    }
    if (named != 0 && !args.flag("--json"))
        std::printf("%zu carved files were named from deleted entries.\n", named);
    if (failed != 0)
        std::fprintf(stderr, "%s\n",
                     saved.failures.text(std::to_string(failed) + " carved files could not be written:", *output + "/")
                         .c_str());
    if (saved.incomplete != 0)
        std::fprintf(stderr, "%zu carved files hold zeros where the image could not be read.\n", saved.incomplete);
    if (engine.scanStopped)
        std::fprintf(stderr, "Stopped: the search ended at byte %llu of %llu; the %zu files found before it%s.\n",
                     static_cast<unsigned long long>(engine.scannedBytes),
                     static_cast<unsigned long long>(engine.scanSize), engine.carvedFiles.size(),
                     saved.stopped ? " were being saved" : " were saved");
    if (saved.stopped)
        std::fprintf(stderr, "Stopped: %zu carved files were written, each of them whole.\n", saved.written);
    const int reported = report.write({QIS_VERSION, args.positional()[0],
                                       args.flag("--disk") ? std::string("--disk") : ReportOption::volumeNamed(args),
                                       static_cast<std::uint64_t>(startSector) * kSectorSize});
    if (!complete)
        return kExitStopped;
    if (failed != 0 || reported != kExitOk)
        return kExitFailure;
    return saved.incomplete != 0 ? kExitIncomplete : kExitOk;
}

} // namespace qis::cli

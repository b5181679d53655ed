#include "cli/Arguments.h"
#include "cli/CliReporter.h"
#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/VolumeSelection.h"
#include "filesystems/VolumeSweep.h"
#include "platform/OutputFolder.h"
#include "images/WizardState.h"
#include "platform/ProgramFolder.h"
#include "recovery/carving/CarvedSave.h"
#include "recovery/carving/SignatureFile.h"
#include "recovery/carving/myJpg.h"
#include "util/Utf.h"

#include <algorithm>
#include <cstdio>

namespace qis::cli {

int runCarve(const std::vector<std::string>& words)
{
    std::vector<std::string> flags = kVolumeFlags;
    flags.insert(flags.end(), {"--json", "--no-default-signatures", "--disk", "--no-validation"});
    std::vector<std::string> values = kVolumeValueOptions;
    values.insert(values.end(), {"--signatures", "--category", "--output"});
    Arguments args(words, values, flags);
    if (!args.ok())
        return usageError(args.error());
    if (args.positional().size() != 1)
        return usageError("carve takes one IMAGE and a volume (or --disk)");
    auto output = args.value("--output");
    if (!output)
        return usageError("carve needs --output DIR");

    myJpg engine;
    if (!args.flag("--no-default-signatures"))
        loadDefaultSignatures(programFolder() / kDefaultSignatureFile, engine);
    for (const std::string& file : args.values("--signatures")) {
        std::string message;
        if (!loadSignatureFile(file, engine, message)) {
            std::fprintf(stderr, "%s: %s\n", file.c_str(), message.c_str());
            return kExitFailure;
        }
    }
    if (engine.signatureTypes.empty()) {
        std::fprintf(stderr, "No signatures are loaded: the default %s beside qsalvage is missing, and no "
                             "--signatures FILE was given.\n",
                     kDefaultSignatureFile);
        return kExitFailure;
    }

    WizardState state;
    if (!openImage(state, args.positional()[0]))
        return kExitFailure;
    readWriteInterface& reader = *state.currentReader;
    std::int64_t startSector = 0;
    if (args.flag("--disk")) {
        engine.scanSize = state.diskSectorCount * kSectorSize;
    } else {
        bool usage = false;
        auto volume = selectVolume(args, state, &usage);
        if (!volume)
            return usage ? kExitUsage : kExitFailure;
        startSector = volume->startSector;
        engine.scanSize = volumeBytesFromSizeText(volume->sizeText);
    }
    reader.baseOffset = startSector * static_cast<std::int64_t>(kSectorSize);
    engine.reader = &reader;
    engine.validateLengths = !args.flag("--no-validation");
    {
        CliReporter reporter;
        StopOnInterrupt interrupt(engine.rawStopRequested);
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) { engine.carveVolume(job, nullptr); });
        runner.join();
        reporter.finish();
    }

    // Every file is saved, or those of the categories asked for.
    const auto chosen = args.values("--category");
    auto wanted = [&](const std::u16string& category) {
        return chosen.empty() || std::find(chosen.begin(), chosen.end(), utf16ToUtf8(category)) != chosen.end();
    };
    auto root = OutputFolder::open(*output);
    if (!root) {
        std::fprintf(stderr, "Cannot create or open the output folder %s\n", output->c_str());
        return kExitFailure;
    }
    CarvedSaveResult saved;
    {
        // Ctrl-C during the save ends it between files: what is written is whole.
        CliReporter reporter;
        StopOnInterrupt interrupt(engine.rawStopRequested);
        JobRunner runner(reporter);
        runner.start([&](JobContext& job) {
            saved = saveCarvedFiles(engine, reader, *root, [&](std::size_t i) { return wanted(engine.categoryOf(i)); },
                                    engine.rawStopRequested, job);
        });
        runner.join();
        reporter.finish();
    }
    const std::vector<std::string>& savedAs = saved.savedAs;
    const std::size_t failed = saved.failed;

    // The counts per category in the order the signatures name them.
    std::vector<std::u16string> order;
    for (const SignatureType& t : engine.signatureTypes)
        if (std::find(order.begin(), order.end(), t.category) == order.end())
            order.push_back(t.category);
    if (args.flag("--json")) {
        std::string out = "{\"categories\": [";
        for (std::size_t i = 0; i < order.size(); ++i) {
            out += i ? ", {\"name\": " : "{\"name\": ";
            appendJsonString(out, utf16ToUtf8(order[i]));
            out += ", \"count\": " + std::to_string(engine.categoryCounts[order[i]]) + "}";
        }
        out += "],\n \"files\": [";
        for (std::size_t i = 0; i < engine.carvedFiles.size(); ++i) {
            const CarvedFile& f = engine.carvedFiles[i];
            out += i ? ",\n  {\"category\": " : "\n  {\"category\": ";
            appendJsonString(out, utf16ToUtf8(engine.categoryOf(i)));
            out += ", \"name\": ";
            appendJsonString(out, utf16ToUtf8(engine.fileName(i)));
            out += ", \"offset\": " + std::to_string(f.start) + ", \"length\": " + std::to_string(f.length);
            out += f.validated ? ", \"validated\": true" : ", \"validated\": false";
            out += ", \"path\": ";
            if (savedAs[i].empty())
                out += "null";
            else
                appendJsonString(out, savedAs[i]);
            out += '}';
        }
        out += "\n]}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        for (const std::u16string& category : order)
            std::printf("%s (%llu)\n", utf16ToUtf8(category).c_str(),
                        static_cast<unsigned long long>(engine.categoryCounts[category]));
    }
    if (failed != 0)
        std::fprintf(stderr, "%zu carved files could not be written.\n", failed);
    if (saved.stopped)
        std::fprintf(stderr, "Stopped: %zu carved files were written, each of them whole.\n", saved.written);
    return failed != 0 || saved.stopped ? kExitFailure : kExitOk;
}

} // namespace qis::cli

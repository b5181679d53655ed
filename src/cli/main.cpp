#include "cli/Commands.h"
#include "cli/VerbHelp.h"

#include <csignal>
#include <string>
#include <vector>

namespace {

using Run = int (*)(const std::vector<std::string>&);

struct Verb {
    const char* name;
    Run run;
};

constexpr Verb kVerbs[] = {
    {"info", qis::cli::runInfo},       {"export", qis::cli::runExport},         {"volumes", qis::cli::runVolumes},
    {"list", qis::cli::runList},       {"save", qis::cli::runSave},             {"search", qis::cli::runSearch},
    {"candidates", qis::cli::runCandidates}, {"carve", qis::cli::runCarve}, {"signatures", qis::cli::runSignatures},
    {"cat", qis::cli::runCat},
};

Run verbNamed(const std::string& name)
{
    for (const Verb& v : kVerbs)
        if (name == v.name)
            return v.run;
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace qis::cli;
    // A file-size limit (ulimit -f) is a write that fails, reported with the
    // file it concerns, not a killed process that leaves a file cut short.
    std::signal(SIGXFSZ, SIG_IGN);
    if (argc < 2)
        return usageError("no command given");
    const std::string command = argv[1];
    std::vector<std::string> words(argv + 2, argv + argc);
    if (Run run = verbNamed(command)) {
        setCurrentVerb(command);
        return run(words);
    }
    if (command == "help" || command == "--help" || command == "-h") {
        // "qsalvage help list" is "qsalvage list --help".
        if (!words.empty() && command == "help") {
            Run run = verbNamed(words[0]);
            if (!run)
                return usageError("no verb " + words[0]);
            setCurrentVerb(words[0]);
            std::vector<std::string> asked(words.begin() + 1, words.end());
            asked.push_back("--help");
            return run(asked);
        }
        printUsage();
        return kExitOk;
    }
    if (command == "--version" || command == "-V" || command == "version") {
        printVersion();
        return kExitOk;
    }
    return usageError("unknown command " + command);
}

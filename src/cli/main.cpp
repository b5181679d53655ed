#include "cli/Commands.h"

#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace qis::cli;
    // A file-size limit (ulimit -f) is a write that fails, reported with the
    // file it concerns, not a killed process that leaves a file cut short.
    std::signal(SIGXFSZ, SIG_IGN);
    if (argc < 2)
        return usageError("no command given");
    std::string command = argv[1];
    std::vector<std::string> words(argv + 2, argv + argc);
    if (command == "info")
        return runInfo(words);
    if (command == "export")
        return runExport(words);
    if (command == "volumes")
        return runVolumes(words);
    if (command == "list")
        return runList(words);
    if (command == "save")
        return runSave(words);
    if (command == "search")
        return runSearch(words);
    if (command == "candidates")
        return runCandidates(words);
    if (command == "carve")
        return runCarve(words);
    if (command == "signatures")
        return runSignatures(words);
    if (command == "help" || command == "--help" || command == "-h") {
        printUsage();
        return kExitOk;
    }
    if (command == "--version" || command == "-V" || command == "version") {
        printVersion();
        return kExitOk;
    }
    return usageError("unknown command " + command);
}

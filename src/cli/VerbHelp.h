#pragma once

#include <string>
#include <string_view>

namespace qis::cli {

// What `qsalvage VERB --help` shows of a verb: its synopsis after the verb's
// name, a one-line summary and a paragraph on what it does.
struct VerbHelp {
    std::string_view name; // "list", "signatures add"
    std::string_view synopsis;
    std::string_view summary;
    std::string_view details;
};

// The verb's help, or nullptr for a word that is not a verb.
const VerbHelp* verbHelp(std::string_view name);

// How an option is shown in a verb's help: the name of its value (empty for
// a flag) and what it does. A verb may mean something of its own by an
// option (volumes --start-sector bounds the search); that verb's text wins.
struct OptionHelp {
    std::string_view valueName;
    std::string_view text;
};
OptionHelp optionHelp(std::string_view verb, std::string_view option);

// What VOLUME means, for the help of the verbs that take one.
std::string_view volumeParagraph();

// The verb the command line names, for usage errors that follow; empty
// before one is known.
void setCurrentVerb(std::string_view name);
std::string_view currentVerb();

} // namespace qis::cli

#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qis::cli {

// Options of one verb: "--name value" (or "--name=value") pairs, bare
// "--flag"s and the positional words ("--" ends the options), checked
// against what the verb accepts. -h/--help prints the verb's help.
class Arguments {
public:
    // valueOptions take a value, flags do not; anything else is a usage error.
    // `verb` names the verb's help ("list", "signatures add").
    Arguments(const std::string& verb, const std::vector<std::string>& words,
              const std::vector<std::string>& valueOptions, const std::vector<std::string>& flags);

    // Set when parsing already ended the command: 0 after the help was
    // printed, the usage-error code after the error was.
    [[nodiscard]] std::optional<int> exitNow() const { return exitNow_; }
    [[nodiscard]] const std::vector<std::string>& positional() const { return positional_; }
    [[nodiscard]] bool flag(const std::string& name) const;
    // The last value given for the option.
    [[nodiscard]] std::optional<std::string> value(const std::string& name) const;
    // Every value given for an option that may be repeated, in order.
    [[nodiscard]] std::vector<std::string> values(const std::string& name) const;

private:
    std::vector<std::string> positional_;
    std::map<std::string, std::vector<std::string>> values_;
    std::map<std::string, int> flags_;
    std::optional<int> exitNow_;
};

} // namespace qis::cli

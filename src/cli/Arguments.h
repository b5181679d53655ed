#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qis::cli {

// Options of one command: "--name value" pairs, bare "--flag"s and the
// positional words, checked against what the command accepts.
class Arguments {
public:
    // valueOptions take a value, flags do not; anything else is a usage error.
    Arguments(const std::vector<std::string>& words, const std::vector<std::string>& valueOptions,
              const std::vector<std::string>& flags);

    [[nodiscard]] bool ok() const { return error_.empty(); }
    [[nodiscard]] const std::string& error() const { return error_; }
    [[nodiscard]] const std::vector<std::string>& positional() const { return positional_; }
    [[nodiscard]] bool flag(const std::string& name) const;
    // The last value given for the option.
    [[nodiscard]] std::optional<std::string> value(const std::string& name) const;
    // Every value given for an option that may be repeated, in order.
    [[nodiscard]] std::vector<std::string> values(const std::string& name) const;

private:
    std::vector<std::string> positional_;
    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> flags_;
    std::string error_;
};

} // namespace qis::cli

#include "cli/Arguments.h"

#include <algorithm>

namespace qis::cli {

Arguments::Arguments(const std::vector<std::string>& words, const std::vector<std::string>& valueOptions,
                     const std::vector<std::string>& flags)
{
    auto has = [](const std::vector<std::string>& list, const std::string& w) {
        return std::find(list.begin(), list.end(), w) != list.end();
    };
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.size() > 2 && w.compare(0, 2, "--") == 0) {
            if (has(valueOptions, w)) {
                if (i + 1 >= words.size()) {
                    error_ = "option " + w + " needs a value";
                    return;
                }
                values_[w].push_back(words[++i]);
            } else if (has(flags, w)) {
                flags_.push_back(w);
            } else {
                error_ = "unknown option " + w;
                return;
            }
        } else {
            positional_.push_back(w);
        }
    }
}

bool Arguments::flag(const std::string& name) const
{
    return std::find(flags_.begin(), flags_.end(), name) != flags_.end();
}

std::optional<std::string> Arguments::value(const std::string& name) const
{
    auto it = values_.find(name);
    if (it == values_.end())
        return std::nullopt;
    return it->second.back();
}

std::vector<std::string> Arguments::values(const std::string& name) const
{
    auto it = values_.find(name);
    return it == values_.end() ? std::vector<std::string>{} : it->second;
}

} // namespace qis::cli

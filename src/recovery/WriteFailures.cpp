#include "recovery/WriteFailures.h"

#include <cstring>

namespace qis {

void WriteFailures::note(const std::string& what, int error, std::uint64_t files)
{
    if (named_.size() >= kMostNamed) {
        ++leftOut_;
        return;
    }
    named_.push_back(what + ": " + std::strerror(error) +
                     (what.ends_with('/') ? " (" + std::to_string(files) + " files in it not written)" : ""));
}

std::string WriteFailures::text(const std::string& heading, const std::string& prefix) const
{
    if (named_.empty())
        return {};
    std::string out = heading;
    for (const std::string& line : named_)
        out += "\n  " + prefix + line;
    if (leftOut_ != 0)
        out += "\n  and " + std::to_string(leftOut_) + " more";
    return out;
}

} // namespace qis

#include "support/CandidatesJson.h"

#include <regex>

namespace qis::test {

std::vector<std::uint64_t> offeredNumbers(const std::string& json, const std::string& list, const std::string& key)
{
    std::vector<std::uint64_t> out;
    auto at = json.find("\"" + list + "\": [");
    if (at == std::string::npos)
        return out;
    std::string body = json.substr(at, json.find(']', at) - at);
    std::regex value("\"" + key + "\": ([0-9]+)");
    for (std::sregex_iterator it(body.begin(), body.end(), value), end; it != end; ++it)
        out.push_back(std::stoull((*it)[1]));
    return out;
}

} // namespace qis::test

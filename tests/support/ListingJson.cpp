#include "support/ListingJson.h"

#include <nlohmann/json.hpp>

namespace qis::test {

std::map<std::string, Listed> parseJsonListing(const std::string& out)
{
    std::map<std::string, Listed> entries;
    const auto json = nlohmann::json::parse(out, nullptr, false);
    if (json.is_discarded())
        return entries;
    // A volume read whole is a plain array; one read in part wraps it.
    const auto& list = json.is_object() ? json.value("entries", nlohmann::json::array()) : json;
    for (const auto& e : list) {
        Listed l;
        l.type = e.value("type", "");
        l.deleted = e.value("deleted", false);
        l.size = e.value("size", std::uint64_t{0});
        if (e.contains("mtime") && e["mtime"].is_string())
            l.mtime = e["mtime"].get<std::string>().substr(0, 20);
        l.attributes = e.value("attributes", "");
        l.recoverability = e.value("recoverability", "");
        entries[e.value("path", "")] = l;
    }
    return entries;
}

} // namespace qis::test

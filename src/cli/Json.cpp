#include "cli/Json.h"

namespace qis::cli {

void appendJsonLine(std::string& out, const Json& value)
{
    if (value.is_object()) {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : value.items()) {
            out += first ? "" : ", ";
            first = false;
            out += Json(key).dump(-1, ' ', false, Json::error_handler_t::replace);
            out += ": ";
            appendJsonLine(out, item);
        }
        out += '}';
    } else if (value.is_array()) {
        out += '[';
        bool first = true;
        for (const auto& item : value) {
            out += first ? "" : ", ";
            first = false;
            appendJsonLine(out, item);
        }
        out += ']';
    } else {
        out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
}

std::string jsonLine(const Json& value)
{
    std::string out;
    appendJsonLine(out, value);
    return out;
}

std::string jsonString(std::string_view text) { return jsonLine(Json(std::string(text))); }

Json jsonIsoTime(const std::optional<UnixTime>& time)
{
    char iso[21];
    if (time && formatIsoUtc(time->seconds, iso))
        return std::string(iso, 20);
    return nullptr;
}

Json jsonEpochTime(const std::optional<UnixTime>& time)
{
    if (!time)
        return nullptr;
    return time->seconds;
}

} // namespace qis::cli

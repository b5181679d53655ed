#pragma once

#include "util/FileTime.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace qis::cli {

using Json = nlohmann::ordered_json;

// The version of the JSON the verbs print (docs/json.md); it changes when a
// field is removed or changes its meaning, not when one is added.
inline constexpr int kJsonSchema = 1;

// The value on one line, ", " and ": " between its parts, as every verb
// prints its JSON: a listing stays one entry a line. Text that is not
// UTF-8 is printed with U+FFFD in place of the bad bytes.
std::string jsonLine(const Json& value);
// The same, appended to `out`.
void appendJsonLine(std::string& out, const Json& value);

// A JSON string literal for UTF-8 text.
std::string jsonString(std::string_view text);

// An ISO 8601 UTC time ("2024-03-15T10:30:00Z") and its seconds since
// 1970, or null for a time the file system does not record.
Json jsonIsoTime(const std::optional<UnixTime>& time);
Json jsonEpochTime(const std::optional<UnixTime>& time);

} // namespace qis::cli

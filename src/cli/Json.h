#pragma once

#include <string>
#include <string_view>

namespace qis::cli {

// A JSON string literal for UTF-8 text (control characters escaped).
std::string jsonString(std::string_view text);
// The same, appended to `out`.
void appendJsonString(std::string& out, std::string_view text);

} // namespace qis::cli

#pragma once

#include "util/FileTime.h"

#include <string>
#include <string_view>

namespace qis::report {

// The text for XML character data and attribute values: escaped, the
// characters XML 1.0 cannot hold at all (most controls, U+FFFE, U+FFFF)
// and malformed UTF-8 as U+FFFD, tab and line ends as references so
// they survive attribute normalisation.
std::string xmlText(std::string_view text);

// "2024-03-15T10:30:00Z", with the fraction of a second when there is
// one ("2024-03-15T10:30:00.25Z"); empty for a year outside 0 ... 9999.
std::string isoTime(const UnixTime& time);

} // namespace qis::report

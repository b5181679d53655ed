#pragma once

#include "images/WizardState.h"

#include <string>

namespace qis::cli {

// Opens the image named on the command line with the reader its signatures
// call for; on failure prints the reader's message and returns false.
bool openImage(WizardState& state, const std::string& path);

// A decimal option value; false (with a usage message) when it is not one.
bool parseSector(const std::string& option, const std::string& text, std::int64_t& value);

} // namespace qis::cli

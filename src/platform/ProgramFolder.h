#pragma once

#include <filesystem>

namespace qis {

// The folder of the running program, where the default signature settings
// are written beside it.
std::filesystem::path programFolder();

} // namespace qis

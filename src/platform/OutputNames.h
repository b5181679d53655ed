#pragma once

#include <string>
#include <string_view>

namespace qis {

// A name from the image made safe as one path component: '/', '\\', NUL,
// control characters and '%' become %XX (so the stored name can be read
// back), "." and ".." and a trailing dot are escaped, an empty name gets a
// stand-in, and a name longer than 255 bytes is cut and marked with a hash
// of the whole. Everything else stays as stored.
std::string outputComponent(std::u16string_view name);

// "report (1).txt" for the n-th other file of the name "report.txt".
std::string numberedName(const std::string& name, unsigned n);

} // namespace qis

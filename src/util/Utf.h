#pragma once

#include <string>
#include <string_view>

namespace qis {

// UTF-16 as stored by file systems and partition tables, to UTF-8; unpaired
// surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

} // namespace qis

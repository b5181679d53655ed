#pragma once

#include <string>

namespace qis {

// Labels and names compared without regard to case: ASCII letters only,
// whatever the locale.
inline std::string toLowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace qis

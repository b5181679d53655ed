#include "recovery/carving/validation/Validators.h"

namespace qis::carve::validation {

Length pdf(Source& s)
{
    if (!s.matches(0, "%PDF-"))
        return std::nullopt;
    for (std::uint64_t from = 5;;) {
        auto eof = s.find("%%EOF", from);
        if (!eof)
            return std::nullopt;
        std::uint64_t end = *eof + 5;
        if (s.has(end, 1) && s.u8(end) == '\r')
            ++end;
        if (s.has(end, 1) && s.u8(end) == '\n')
            ++end;
        // An incremental update goes on with more objects or a new xref.
        std::uint64_t next = end;
        while (s.has(next, 1) && (s.u8(next) == ' ' || s.u8(next) == '\r' || s.u8(next) == '\n'))
            ++next;
        bool more = s.matches(next, "xref");
        if (!more && s.has(next, 1) && s.u8(next) >= '0' && s.u8(next) <= '9') {
            std::uint64_t q = next;
            while (s.has(q, 1) && s.u8(q) >= '0' && s.u8(q) <= '9')
                ++q;
            more = s.matches(q, " 0 obj") || s.matches(q, " 1 obj");
        }
        if (!more)
            return end;
        from = end;
    }
}

} // namespace qis::carve::validation

#include "recovery/carving/validation/Validators.h"

#include <string>

namespace qis::carve::validation {
namespace {

bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
bool isSpace(std::uint8_t c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0; }

// The decimal number at `p` (at most 19 digits), moving `p` past it.
std::optional<std::uint64_t> numberAt(Source& s, std::uint64_t& p)
{
    std::uint64_t v = 0;
    int n = 0;
    for (; s.has(p, 1) && isDigit(s.u8(p)) && n < 19; ++p, ++n)
        v = v * 10 + (s.u8(p) - '0');
    return n > 0 ? std::optional<std::uint64_t>(v) : std::nullopt;
}

// Whether an xref section starts at `at`: a cross-reference table, or a
// cross-reference stream, which is an indirect object "N G obj".
bool xrefAt(Source& s, std::uint64_t at)
{
    if (s.matches(at, "xref"))
        return true;
    std::uint64_t p = at;
    if (!numberAt(s, p) || !s.matches(p, " "))
        return false;
    ++p;
    return numberAt(s, p) && s.matches(p, " obj");
}

// Whether the "%%EOF" at `eof` closes a trailer whose "startxref" points at
// an xref section that lies in the file before it. The keyword stands within
// the last few lines, so only a short stretch is read back.
bool closesXref(Source& s, std::uint64_t eof)
{
    static constexpr std::uint64_t kTrailerTail = 128;
    const std::uint64_t from = eof > kTrailerTail ? eof - kTrailerTail : 0;
    std::string tail;
    for (std::uint64_t p = from; p < eof; ++p)
        tail.push_back(static_cast<char>(s.u8(p)));
    const auto keyword = tail.rfind("startxref");
    if (keyword == std::string::npos)
        return false;
    std::uint64_t p = from + keyword + 9;
    while (p < eof && isSpace(s.u8(p)))
        ++p;
    auto offset = numberAt(s, p);
    // A linearized file's first-page trailer may say 0: its section is
    // found through the later one, and it closes no file on its own.
    return offset && *offset > 0 && *offset < eof && xrefAt(s, *offset);
}

} // namespace

// A PDF ends at the "%%EOF" of its last incremental update. Each update
// appends objects, an xref section and a trailer with its own "%%EOF", and
// a linearized file has a first-page trailer near its start, so the file
// does not end at the first marker: it goes on as long as another body
// follows straight after the line end, and ends at the last marker that
// closes a valid xref.
Length pdf(Source& s)
{
    if (!s.matches(0, "%PDF-"))
        return std::nullopt;
    Length last;
    for (std::uint64_t from = 5;;) {
        auto eof = s.find("%%EOF", from);
        if (!eof)
            return last;
        std::uint64_t end = *eof + 5;
        if (s.has(end, 1) && s.u8(end) == '\r')
            ++end;
        if (s.has(end, 1) && s.u8(end) == '\n')
            ++end;
        if (closesXref(s, *eof))
            last = end;
        std::uint64_t next = end;
        while (s.has(next, 1) && next - end < 512 && isSpace(s.u8(next)) && s.u8(next) != 0)
            ++next;
        // An update goes on with objects or a table; a comment line ("%")
        // before them is how some writers mark theirs.
        const bool more = s.has(next, 1) && (xrefAt(s, next) || (s.u8(next) == '%' && !s.matches(next, "%PDF-")));
        if (!more)
            return last;
        from = end;
    }
}

} // namespace qis::carve::validation

#include "recovery/carving/validation/TextRun.h"
#include "recovery/carving/validation/Validators.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace qis::carve::validation {

std::uint64_t textRunEnd(Source& s, std::uint64_t from)
{
    std::uint64_t p = from;
    const std::uint64_t stop = s.limit() - from > kMaxTextRun ? from + kMaxTextRun : s.limit();
    while (p < stop) {
        const std::uint8_t b = s.u8(p);
        if (b < 0x80) {
            if (b < 0x20 ? !(b == '\t' || b == '\n' || b == '\f' || b == '\r' || b == 0x1B) : b == 0x7F)
                break;
            ++p;
            continue;
        }
        // The second byte's range rules out overlong forms, surrogates and
        // code points past U+10FFFF, which no encoder writes.
        std::uint64_t n = 0;
        std::uint8_t low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF)
            n = 2;
        else if (b >= 0xE0 && b <= 0xEF) {
            n = 3;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            n = 4;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        } else
            break;
        if (n > stop - p)
            break;
        bool whole = s.u8(p + 1) >= low && s.u8(p + 1) <= high;
        for (std::uint64_t i = 2; i < n && whole; ++i)
            whole = s.u8(p + i) >= 0x80 && s.u8(p + i) <= 0xBF;
        if (!whole)
            break;
        p += n;
    }
    return p;
}

namespace {

// The text file at the start: its run, unless the run reaches the bound
// without ending, which makes a prefix, not a whole file.
Length wholeText(Source& s)
{
    const std::uint64_t end = textRunEnd(s, 0);
    return end < kMaxTextRun ? Length(end) : std::nullopt;
}

// The text file at the start and the end of its first line, when that line
// ends inside the file within `longest` bytes: the line that says what the
// file is (a script's interpreter, a mailbox's separator).
struct FirstLine {
    std::uint64_t end = 0;     // of the whole text
    std::uint64_t lineEnd = 0; // the first '\n'
};
std::optional<FirstLine> textWithFirstLine(Source& s, std::uint64_t longest)
{
    const auto whole = wholeText(s);
    if (!whole)
        return std::nullopt;
    auto lineEnd = s.findByte('\n', 0);
    if (!lineEnd || *lineEnd >= *whole || *lineEnd > longest)
        return std::nullopt;
    return FirstLine{*whole, *lineEnd};
}

bool isSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The last byte of the run that is not white space, or nullopt for none.
std::optional<std::uint8_t> lastVisible(Source& s, std::uint64_t end)
{
    for (std::uint64_t p = end; p-- > 0;)
        if (!isSpace(s.u8(p)))
            return s.u8(p);
    return std::nullopt;
}

bool matchesAnyCase(Source& s, std::uint64_t at, std::string_view lowerText)
{
    if (!s.has(at, lowerText.size()))
        return false;
    for (std::size_t i = 0; i < lowerText.size(); ++i) {
        std::uint8_t c = s.u8(at + i);
        if (c >= 'A' && c <= 'Z')
            c = static_cast<std::uint8_t>(c - 'A' + 'a');
        if (c != static_cast<std::uint8_t>(lowerText[i]))
            return false;
    }
    return true;
}

// The word (up to a space or line end) at `p`, at most 64 bytes.
std::string wordAt(Source& s, std::uint64_t& p, std::uint64_t end)
{
    std::string word;
    while (p < end && word.size() < 64 && !isSpace(s.u8(p)))
        word.push_back(static_cast<char>(s.u8(p++)));
    return word;
}

void skipBlanks(Source& s, std::uint64_t& p, std::uint64_t end)
{
    while (p < end && (s.u8(p) == ' ' || s.u8(p) == '\t'))
        ++p;
}

// The extension a script's interpreter gives it ("#!/usr/bin/env python3"
// is a Python script), or empty when the interpreter is not one known here.
std::u16string scriptKind(std::string interpreter)
{
    interpreter = interpreter.substr(interpreter.rfind('/') + 1);
    static constexpr std::pair<std::string_view, std::u16string_view> kByPrefix[] = {
        {"python", u"py"}, {"perl", u"pl"}, {"ruby", u"rb"}, {"node", u"js"}, {"php", u"php"}};
    for (const auto& [prefix, ext] : kByPrefix)
        if (interpreter.starts_with(prefix))
            return std::u16string(ext);
    for (std::string_view shell : {"sh", "bash", "dash", "zsh", "ksh", "ash"})
        if (interpreter == shell)
            return u"sh";
    return {};
}

// RFC 5322 header fields from `p` to the blank line that ends them: each a
// name of printable characters and a colon, or a folded continuation. The
// position after the blank line, or nullopt when the lines are not headers.
std::optional<std::uint64_t> headerBlock(Source& s, std::uint64_t p, std::uint64_t end, int atLeast)
{
    static constexpr std::uint64_t kMaxHeader = 1 << 20; // long Received chains, not a whole disk
    int fields = 0;
    for (const std::uint64_t first = p; p < end && p - first < kMaxHeader;) {
        if (s.u8(p) == '\n' || (s.u8(p) == '\r' && p + 1 < end && s.u8(p + 1) == '\n'))
            return fields >= atLeast ? std::optional<std::uint64_t>(p + (s.u8(p) == '\r' ? 2 : 1)) : std::nullopt;
        if (s.u8(p) == ' ' || s.u8(p) == '\t') {
            if (fields == 0)
                return std::nullopt;
        } else {
            std::uint64_t q = p;
            while (q < end && s.u8(q) > 32 && s.u8(q) < 127 && s.u8(q) != ':')
                ++q;
            if (q == p || q >= end || s.u8(q) != ':')
                return std::nullopt;
            ++fields;
        }
        auto line = s.findByte('\n', p);
        if (!line || *line >= end)
            return std::nullopt;
        p = *line + 1;
    }
    return std::nullopt;
}

// A bounded recursive-descent reading of JSON: a lone brace starts far too
// many things on a disk for anything less than the whole run parsing to
// make a file of it.
class JsonCheck {
public:
    // Parsing goes first and stops at the first byte out of place, so the
    // many braces that start no JSON cost a few bytes each, not a text run.
    explicit JsonCheck(Source& s) : s_(s), end_(std::min(s.limit(), kMaxTextRun)) {}
    // The length of the JSON text at the start, when it parses whole and is
    // the whole run of text there.
    Length length()
    {
        std::uint64_t p = 0;
        if (!value(p, 0))
            return std::nullopt;
        space(p);
        return wholeText(s_) == p ? Length(p) : std::nullopt;
    }

private:
    static constexpr int kMaxDepth = 256;
    void space(std::uint64_t& p)
    {
        while (p < end_ && isSpace(s_.u8(p)))
            ++p;
    }
    bool literal(std::uint64_t& p, std::string_view word)
    {
        if (end_ - p < word.size() || !s_.matches(p, word))
            return false;
        p += word.size();
        return true;
    }
    bool digits(std::uint64_t& p)
    {
        const std::uint64_t from = p;
        while (p < end_ && s_.u8(p) >= '0' && s_.u8(p) <= '9')
            ++p;
        return p > from;
    }
    bool number(std::uint64_t& p)
    {
        if (p < end_ && s_.u8(p) == '-')
            ++p;
        if (!digits(p))
            return false;
        if (p < end_ && s_.u8(p) == '.' && !digits(++p))
            return false;
        if (p < end_ && (s_.u8(p) == 'e' || s_.u8(p) == 'E')) {
            ++p;
            if (p < end_ && (s_.u8(p) == '+' || s_.u8(p) == '-'))
                ++p;
            return digits(p);
        }
        return true;
    }
    bool string(std::uint64_t& p)
    {
        for (++p; p < end_; ++p) {
            const std::uint8_t c = s_.u8(p);
            if (c == '"') {
                ++p;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c == '\\' && ++p >= end_)
                return false;
        }
        return false;
    }
    // Members or elements between `open` and `close`, each a value (objects'
    // ones after a string key and a colon).
    bool list(std::uint64_t& p, int depth, std::uint8_t close, bool keyed)
    {
        ++p;
        space(p);
        if (p < end_ && s_.u8(p) == close) {
            ++p;
            return true;
        }
        while (p < end_) {
            if (keyed) {
                if (s_.u8(p) != '"' || !string(p))
                    return false;
                space(p);
                if (p >= end_ || s_.u8(p) != ':')
                    return false;
                ++p;
            }
            if (!value(p, depth + 1))
                return false;
            space(p);
            if (p >= end_)
                return false;
            if (s_.u8(p) == close) {
                ++p;
                return true;
            }
            if (s_.u8(p) != ',')
                return false;
            ++p;
            space(p);
        }
        return false;
    }
    bool value(std::uint64_t& p, int depth)
    {
        space(p);
        if (p >= end_ || depth > kMaxDepth)
            return false;
        switch (s_.u8(p)) {
        case '{': return list(p, depth, '}', true);
        case '[': return list(p, depth, ']', false);
        case '"': return string(p);
        case 't': return literal(p, "true");
        case 'f': return literal(p, "false");
        case 'n': return literal(p, "null");
        default: return number(p);
        }
    }
    Source& s_;
    std::uint64_t end_;
};

} // namespace

Length script(Source& s, std::u16string& kind)
{
    if (!s.matches(0, "#!"))
        return std::nullopt;
    const auto text = textWithFirstLine(s, 256);
    if (!text)
        return std::nullopt;
    const std::uint64_t end = text->end;
    const std::uint64_t lineEnd = text->lineEnd;
    std::uint64_t p = 2;
    skipBlanks(s, p, lineEnd);
    std::string interpreter = wordAt(s, p, lineEnd);
    if (!interpreter.starts_with("/"))
        return std::nullopt;
    // "#!/usr/bin/env -S python3 -u": the program env runs is the first
    // word that is not an option.
    if (interpreter.ends_with("/env"))
        do {
            skipBlanks(s, p, lineEnd);
            interpreter = wordAt(s, p, lineEnd);
        } while (interpreter.starts_with("-"));
    kind = scriptKind(interpreter);
    return end;
}

Length xml(Source& s, std::u16string& kind)
{
    if (!s.matches(0, "<?xml") || !s.has(5, 1) || !isSpace(s.u8(5)))
        return std::nullopt;
    const auto whole = wholeText(s);
    if (!whole)
        return std::nullopt;
    const std::uint64_t end = *whole;
    auto declared = s.find("?>", 5);
    // A document ends with its root element's end tag.
    if (!declared || *declared >= end || lastVisible(s, end) != '>')
        return std::nullopt;
    // The root element: past comments, processing instructions and the
    // document type (whose internal subset may hold '>' of its own).
    std::uint64_t p = *declared + 2;
    for (int steps = 0; steps < 64; ++steps) {
        while (p < end && isSpace(s.u8(p)))
            ++p;
        if (p >= end || s.u8(p) != '<')
            return std::nullopt;
        std::optional<std::uint64_t> next; // the last byte of the markup at p
        if (s.matches(p, "<!--")) {
            if ((next = s.find("-->", p + 4)))
                *next += 2;
        } else if (s.matches(p, "<?")) {
            if ((next = s.find("?>", p + 2)))
                *next += 1;
        } else if (s.matches(p, "<!")) {
            auto close = s.findByte('>', p), subset = s.findByte('[', p);
            next = subset && close && *subset < *close ? s.find("]", *subset) : close;
            if (next)
                next = s.findByte('>', *next);
        } else {
            ++p;
            std::string name = wordAt(s, p, end);
            name = name.substr(0, name.find_first_of("/>"));
            if (name == "svg" || name.ends_with(":svg"))
                kind = u"svg";
            return end;
        }
        if (!next || *next >= end)
            return std::nullopt;
        p = *next + 1;
    }
    return std::nullopt;
}

Length html(Source& s)
{
    if (!matchesAnyCase(s, 0, "<!doctype html") && !matchesAnyCase(s, 0, "<html"))
        return std::nullopt;
    const auto whole = wholeText(s);
    if (!whole)
        return std::nullopt;
    const std::uint64_t end = *whole;
    return lastVisible(s, end) == '>' ? Length(end) : std::nullopt;
}

Length json(Source& s)
{
    if (!s.matches(0, "{"))
        return std::nullopt;
    return JsonCheck(s).length();
}

Length mbox(Source& s)
{
    // "From sender@example.org Thu Dec 10 15:35:04 2026": the separator line
    // of a mailbox holds the sender and the time the message was delivered.
    if (!s.matches(0, "From "))
        return std::nullopt;
    const auto text = textWithFirstLine(s, 1024);
    if (!text)
        return std::nullopt;
    const std::uint64_t end = text->end;
    const std::uint64_t lineEnd = text->lineEnd;
    std::uint64_t p = 5;
    if (wordAt(s, p, lineEnd).empty())
        return std::nullopt;
    bool time = false;
    int yearDigits = 0, run = 0;
    for (; p < lineEnd; ++p) {
        const bool digit = s.u8(p) >= '0' && s.u8(p) <= '9';
        run = digit ? run + 1 : 0;
        yearDigits = std::max(yearDigits, run);
        time = time || (s.u8(p) == ':' && p + 1 < lineEnd && s.u8(p - 1) >= '0' && s.u8(p - 1) <= '9' &&
                        s.u8(p + 1) >= '0' && s.u8(p + 1) <= '9');
    }
    if (!time || yearDigits != 4 || !headerBlock(s, lineEnd + 1, end, 1))
        return std::nullopt;
    return end;
}

Length eml(Source& s)
{
    static constexpr std::string_view kFirstFields[] = {"Return-Path:", "Received:", "From:", "Delivered-To:",
                                                        "MIME-Version:"};
    bool known = false;
    for (std::string_view field : kFirstFields)
        known = known || s.matches(0, field);
    if (!known)
        return std::nullopt;
    const auto whole = wholeText(s);
    if (!whole)
        return std::nullopt;
    const std::uint64_t end = *whole;
    return headerBlock(s, 0, end, 2) ? Length(end) : std::nullopt;
}

} // namespace qis::carve::validation

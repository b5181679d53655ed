#include "cli/FilterOptions.h"

#include "util/Ascii.h"

#include <charconv>
#include <regex>

namespace qis::cli {
namespace {

std::optional<std::uint64_t> parseSize(const std::string& text)
{
    std::uint64_t n = 0;
    const char* end = text.data() + text.size();
    auto [rest, ec] = std::from_chars(text.data(), end, n);
    if (ec != std::errc() || rest == text.data())
        return std::nullopt;
    unsigned shift = 0;
    if (rest != end) {
        const char unit = static_cast<char>(rest[0] & ~0x20);
        shift = unit == 'K' ? 10 : unit == 'M' ? 20 : unit == 'G' ? 30 : unit == 'T' ? 40 : 64;
        // "10K", "10KB", "10KiB" all mean 10240.
        const std::string tail = toLowerAscii(std::string(rest + 1, end));
        if (shift == 64 || !(tail.empty() || tail == "b" || tail == "ib"))
            return std::nullopt;
    }
    if (shift && n > (UINT64_MAX >> shift))
        return std::nullopt;
    return n << shift;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::optional<std::int64_t> parseTime(const std::string& text)
{
    if (!text.empty() && text[0] == '@') {
        std::int64_t seconds = 0;
        auto [rest, ec] = std::from_chars(text.data() + 1, text.data() + text.size(), seconds);
        if (ec != std::errc() || rest != text.data() + text.size() || text.size() == 1)
            return std::nullopt;
        return seconds;
    }
    static const std::regex iso(R"((\d{4})-(\d\d)-(\d\d)(?:[T ](\d\d):(\d\d)(?::(\d\d))?Z?)?)");
    std::smatch m;
    if (!std::regex_match(text, m, iso))
        return std::nullopt;
    const int year = std::stoi(m[1]), month = std::stoi(m[2]), day = std::stoi(m[3]);
    const int hour = m[4].matched ? std::stoi(m[4]) : 0, minute = m[5].matched ? std::stoi(m[5]) : 0;
    const int second = m[6].matched ? std::stoi(m[6]) : 0;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    return daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
           minute * 60 + second;
}

} // namespace

std::optional<EntryFilter> filterFrom(const Arguments& args, std::string& why)
{
    EntryFilter f;
    f.deletedOnly = args.flag("--deleted");
    f.liveOnly = args.flag("--live");
    if (f.deletedOnly && f.liveOnly) {
        why = "--deleted and --live each keep the other out: give one";
        return std::nullopt;
    }
    for (const std::string& list : args.values("--ext")) {
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t comma = std::min(list.find(',', start), list.size());
            std::string ext = toLowerAscii(list.substr(start, comma - start));
            if (!ext.empty() && ext[0] == '.')
                ext.erase(0, 1);
            if (!ext.empty())
                f.extensions.push_back(ext);
            start = comma + 1;
        }
    }
    if (!args.values("--ext").empty() && f.extensions.empty()) {
        why = "--ext needs an extension (jpg,png)";
        return std::nullopt;
    }
    for (const char* name : {"--min-size", "--max-size"}) {
        if (auto v = args.value(name)) {
            auto size = parseSize(*v);
            if (!size) {
                why = std::string(name) + " takes a size in bytes, with K, M, G or T if wanted: not \"" + *v + "\"";
                return std::nullopt;
            }
            (std::string(name) == "--min-size" ? f.minSize : f.maxSize) = size;
        }
    }
    for (const char* name : {"--modified-after", "--modified-before"}) {
        if (auto v = args.value(name)) {
            auto time = parseTime(*v);
            if (!time) {
                why = std::string(name) + " takes a UTC time as 2024-03-15, 2024-03-15T10:30:00Z or @1710498600: not \"" +
                      *v + "\"";
                return std::nullopt;
            }
            (std::string(name) == "--modified-after" ? f.modifiedAfter : f.modifiedBefore) = time;
        }
    }
    return f;
}

std::vector<std::string> withFilterValues(std::vector<std::string> values)
{
    values.insert(values.end(), kFilterValueOptions.begin(), kFilterValueOptions.end());
    return values;
}

std::vector<std::string> withFilterFlags(std::vector<std::string> flags)
{
    flags.insert(flags.end(), kFilterFlags.begin(), kFilterFlags.end());
    return flags;
}

} // namespace qis::cli

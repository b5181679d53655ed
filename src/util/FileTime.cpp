#include "util/FileTime.h"

#include <cstring>
#include <ctime>

namespace qis {

std::optional<UnixTime> filetimeToUnix(std::uint64_t filetime)
{
    if (filetime == 0 || filetime > static_cast<std::uint64_t>(INT64_MAX))
        return std::nullopt;
    std::int64_t ticks = static_cast<std::int64_t>(filetime) - kFiletimeUnixEpoch;
    UnixTime t;
    t.seconds = ticks / 10000000;
    std::int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        t.seconds -= 1;
    }
    t.nanoseconds = rest * 100;
    return t;
}

std::int64_t utcCivilToUnix(int year, int month, int day, int hour, int minute, int second)
{
    // Days from 1970-01-01, counting years from March so the leap day is last.
    std::int64_t y = year - (month <= 2 ? 1 : 0);
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yearOfEra = y - era * 400;
    std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    std::int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

namespace {

std::int64_t localOffsetAt(std::int64_t t)
{
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm local{};
    if (!localtime_r(&tt, &local))
        return 0;
    return local.tm_gmtoff;
}

} // namespace

std::int64_t localCivilToUnix(int year, int month, int day, int hour, int minute, int second)
{
    std::int64_t wall = utcCivilToUnix(year, month, day, hour, minute, second);
    // The zone's offset at the moment the wall time names; a second look
    // settles times near a change of offset.
    std::int64_t guess = wall - localOffsetAt(wall);
    return wall - localOffsetAt(guess);
}

std::string formatIsoUtc(std::int64_t seconds)
{
    char text[21];
    return formatIsoUtc(seconds, text) ? std::string(text, 20) : std::string();
}

bool formatIsoUtc(std::int64_t seconds, char (&text)[21])
{
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        days -= 1;
    }
    // Civil date from days since 1970-01-01, years counted from March.
    std::int64_t z = days + 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t dayOfEra = z - era * 146097;
    std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t mp = (5 * dayOfYear + 2) / 153;
    std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 0 || year > 9999)
        return false;
    std::memcpy(text, "0000-00-00T00:00:00Z", 21);
    auto put = [&](int at, std::int64_t value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10)
            text[at + i] = static_cast<char>('0' + value % 10);
    };
    put(0, year, 4);
    put(5, month, 2);
    put(8, day, 2);
    put(11, rest / 3600, 2);
    put(14, rest / 60 % 60, 2);
    put(17, rest % 60, 2);
    return true;
}

} // namespace qis

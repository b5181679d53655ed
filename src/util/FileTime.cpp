#include "util/FileTime.h"

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

} // namespace qis

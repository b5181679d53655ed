#include "filesystems/fatfamily/DosTime.h"

#include "filesystems/DisplayText.h"

#include <cstdio>

namespace qis {

DosDateTime DosDateTime::decode(std::uint16_t date, std::uint16_t time)
{
    DosDateTime t;
    t.year = 1980 + (date >> 9);
    t.month = (date >> 5) & 0x0F;
    t.day = date & 0x1F;
    t.hour = time >> 11;
    t.minute = (time >> 5) & 0x3F;
    t.second = (time & 0x1F) * 2;
    return t;
}

bool DosDateTime::valid() const
{
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 && second < 60;
}

std::string dosDateTimeText(std::uint16_t date, std::uint16_t time)
{
    DosDateTime t = DosDateTime::decode(date, time);
    return t.valid() ? formatClockText(t.month, t.day, t.year, t.hour, t.minute) : std::string();
}

std::string dosDateText(std::uint16_t date)
{
    DosDateTime t = DosDateTime::decode(date, 0);
    if (!t.valid())
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%d ", t.month, t.day, t.year);
    return text;
}

std::optional<UnixTime> dosToUnix(std::uint16_t date, std::uint16_t time, int centiseconds,
                                  std::optional<std::uint8_t> utcOffset)
{
    DosDateTime t = DosDateTime::decode(date, time);
    if (!t.valid())
        return std::nullopt;
    std::int64_t seconds = 0;
    if (utcOffset && (*utcOffset & 0x80)) {
        // Seven-bit two's complement count of quarter hours east of UTC.
        int quarters = *utcOffset & 0x7F;
        if (quarters >= 64)
            quarters -= 128;
        seconds = utcCivilToUnix(t.year, t.month, t.day, t.hour, t.minute, t.second) - quarters * 15 * 60;
    } else {
        seconds = localCivilToUnix(t.year, t.month, t.day, t.hour, t.minute, t.second);
    }
    if (centiseconds < 0 || centiseconds > 199)
        centiseconds = 0;
    seconds += centiseconds / 100;
    return UnixTime{seconds, static_cast<std::int64_t>(centiseconds % 100) * 10'000'000};
}

} // namespace qis

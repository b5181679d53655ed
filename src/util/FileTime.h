#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace qis {

// Windows FILETIME: 100-nanosecond intervals since 1601-01-01 UTC.
inline constexpr std::int64_t kFiletimeUnixEpoch = 116444736000000000; // 1970-01-01 as a FILETIME

struct UnixTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0; // 0 … 999 999 999
};

// nullopt for 0 (no time recorded) and for values beyond what time_t can hold.
std::optional<UnixTime> filetimeToUnix(std::uint64_t filetime);

// Seconds since 1970 of a civil date and time in UTC (proleptic Gregorian).
std::int64_t utcCivilToUnix(int year, int month, int day, int hour, int minute, int second);

// The same for a wall-clock time in the local zone. Unlike mktime it does
// not look the zone up again on every call, which matters when a listing
// converts the times of many thousands of entries.
std::int64_t localCivilToUnix(int year, int month, int day, int hour, int minute, int second);

// "2024-03-15T10:30:00Z"; empty for a year outside 0 … 9999.
std::string formatIsoUtc(std::int64_t seconds);
// The same 20 characters into `out` (not terminated); false outside those years.
bool formatIsoUtc(std::int64_t seconds, char (&out)[21]);

} // namespace qis

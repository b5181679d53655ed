#pragma once

#include "util/FileTime.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qis {

// A DOS date and time as FAT and exFAT store them: local wall-clock time,
// two-second resolution, years 1980 … 2107.
struct DosDateTime {
    int year = 1980, month = 0, day = 0, hour = 0, minute = 0, second = 0;

    static DosDateTime decode(std::uint16_t date, std::uint16_t time);
    // Month, day, hour, minute and second within their ranges; a zero date
    // means no time was recorded.
    [[nodiscard]] bool valid() const;
};

// "03/15/2024  10:30 AM"; empty when no valid time is recorded.
std::string dosDateTimeText(std::uint16_t date, std::uint16_t time);
// "03/15/2024 ", the date alone (FAT keeps no access time); empty when none.
std::string dosDateText(std::uint16_t date);

// The moment a DOS date and time stand for. `centiseconds` (0 … 199) adds the
// finer part FAT and exFAT keep for some times. Without a UTC offset the time
// is taken in the local zone, as the file system's writer saw it; exFAT's
// offset byte (bit 7 set: a signed count of 15 minutes in bits 0 … 6) makes
// it exact.
std::optional<UnixTime> dosToUnix(std::uint16_t date, std::uint16_t time, int centiseconds = 0,
                                  std::optional<std::uint8_t> utcOffset = std::nullopt);

} // namespace qis

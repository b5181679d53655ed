#pragma once

#include <cstdint>
#include <string>

namespace qis {

// "3.00 GB", "1024.00 KB", "1023 Bytes": binary units, inclusive thresholds.
std::string formatSizeText(std::int64_t bytes);

// Local date and time of a FILETIME as the file list shows it,
// "03/15/2024  10:30 AM", on a 12-hour clock; empty for no time.
std::string formatTimeText(std::uint64_t filetime);

// The same for a time already in Unix seconds (parsers whose times are not FILETIMEs).
std::string formatUnixTimeText(std::int64_t seconds);

// A wall-clock date and time in the same form (hour 0 … 23).
std::string formatClockText(int month, int day, int year, int hour, int minute);

// FAT and exFAT attribute bits as "-R-H-S-A" (read-only, hidden, system,
// archive; those set).
std::string dosAttributeText(std::uint32_t attributes);

// NTFS file attribute flags as "-R-H-S-A-C-E" (in that order, those set).
std::string attributeText(std::uint32_t flags);

} // namespace qis

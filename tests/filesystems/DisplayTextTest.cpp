// The size, time and attribute texts of the file list. Tests run with TZ=UTC.

#include "filesystems/DisplayText.h"
#include "util/FileTime.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qis {
namespace {

TEST(DisplayText, SizeTextsUseBinaryUnitsWithInclusiveThresholds)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        {3221225472, "3.00 GB"}, {1073741824, "1.00 GB"}, {1073741823, "1024.00 MB"}, {1048576, "1.00 MB"},
        {1048575, "1024.00 KB"}, {1024, "1.00 KB"},       {1023, "1023 Bytes"},       {0, "0 Bytes"},
    };
    for (auto [bytes, text] : cases)
        EXPECT_EQ(formatSizeText(bytes), text) << bytes;
}

// A FILETIME for the given UTC time.
std::uint64_t filetime(int year, int month, int day, int hour, int minute)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    return static_cast<std::uint64_t>(timegm(&tm)) * 10000000 + kFiletimeUnixEpoch;
}

TEST(DisplayText, TimeTextIsATwelveHourClock)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const std::pair<std::uint64_t, const char*> cases[] = {
        {filetime(2024, 3, 15, 10, 30), "03/15/2024  10:30 AM"},
        {filetime(2024, 3, 15, 12, 5), "03/15/2024  12:05 PM"},
        {filetime(2024, 3, 15, 13, 5), "03/15/2024  01:05 PM"},
        {filetime(2024, 3, 15, 0, 30), "03/15/2024  12:30 AM"},
        {filetime(2023, 11, 2, 23, 59), "11/02/2023  11:59 PM"},
        {filetime(1601, 1, 1, 0, 0) + 1, "01/01/1601  12:00 AM"},
    };
    for (auto [ft, text] : cases)
        EXPECT_EQ(formatTimeText(ft), text);
    EXPECT_EQ(formatTimeText(0), "");
    EXPECT_EQ(formatTimeText(~0ull), "");
}

TEST(DisplayText, AttributeTextListsFlagsInItsOwnOrder)
{
    EXPECT_EQ(attributeText(0x0821), "-R-A-C");
    EXPECT_EQ(attributeText(0x4A23), "-R-H-S-A-C-E");
    EXPECT_EQ(attributeText(0x0004), "");
    EXPECT_EQ(attributeText(0), "");
}

TEST(FileTime, ConvertsAroundTheUnixEpoch)
{
    auto t = filetimeToUnix(kFiletimeUnixEpoch + 15);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->seconds, 0);
    EXPECT_EQ(t->nanoseconds, 1500);
    auto before = filetimeToUnix(kFiletimeUnixEpoch - 1);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->seconds, -1);
    EXPECT_EQ(before->nanoseconds, 999999900);
    EXPECT_FALSE(filetimeToUnix(0));
}

} // namespace
} // namespace qis

#include "filesystems/DisplayText.h"
#include "filesystems/VolumeParser.h"

#include "util/FileTime.h"

#include <cstdio>
#include <ctime>

namespace qis {

std::string formatSizeText(std::int64_t bytes)
{
    double x = static_cast<double>(bytes);
    char text[64];
    if (x / 1073741824.0 >= 1)
        std::snprintf(text, sizeof text, "%.2f GB", x / 1073741824.0);
    else if (x / 1048576.0 >= 1)
        std::snprintf(text, sizeof text, "%.2f MB", x / 1048576.0);
    else if (x / 1024.0 >= 1)
        std::snprintf(text, sizeof text, "%.2f KB", x / 1024.0);
    else
        std::snprintf(text, sizeof text, "%lld Bytes", static_cast<long long>(bytes));
    return text;
}

std::string formatUnixTimeText(std::int64_t seconds)
{
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local))
        return {};
    return formatClockText(local.tm_mon + 1, local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min);
}

std::string formatClockText(int month, int day, int year, int hour, int minute)
{
    // Midnight is 12 AM and noon 12 PM.
    int shown = hour % 12 == 0 ? 12 : hour % 12;
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%d  %02d:%02d %s", month, day, year, shown, minute,
                  hour < 12 ? "AM" : "PM");
    return text;
}

std::string formatTimeText(std::uint64_t filetime)
{
    auto t = filetimeToUnix(filetime);
    return t ? formatUnixTimeText(t->seconds) : std::string();
}

std::string dosAttributeText(std::uint32_t attributes)
{
    std::string text;
    if (attributes & 0x01)
        text += "-R";
    if (attributes & 0x02)
        text += "-H";
    if (attributes & 0x04)
        text += "-S";
    if (attributes & 0x20)
        text += "-A";
    return text;
}

std::string attributeText(std::uint32_t flags)
{
    std::string text;
    if (flags & 0x0001)
        text += "-R";
    if (flags & 0x0002)
        text += "-H";
    if (flags & 0x0200)
        text += "-S";
    if (flags & 0x0020)
        text += "-A";
    if (flags & 0x0800)
        text += "-C";
    if (flags & 0x4000)
        text += "-E";
    return text;
}

} // namespace qis

namespace qis {

std::string_view recoverabilityText(Recoverability r)
{
    switch (r) {
    case Recoverability::Live: return "";
    case Recoverability::Whole: return "whole";
    case Recoverability::Guessed: return "guessed";
    case Recoverability::PartlyOverwritten: return "partly overwritten";
    case Recoverability::Unknown: return "unknown";
    case Recoverability::None: return "none";
    }
    return "unknown";
}

} // namespace qis

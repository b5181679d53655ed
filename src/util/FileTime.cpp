#include "util/FileTime.h"

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

} // namespace qis

#include "filesystems/fatfamily/FatRecoveryScans.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace qis::fatscan {
namespace {

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}
std::uint64_t le64(const std::uint8_t* p) { return le32(p) | (std::uint64_t{le32(p + 4)} << 32); }

bool between(std::uint8_t c, char low, char high)
{
    return c >= static_cast<std::uint8_t>(low) && c <= static_cast<std::uint8_t>(high);
}

// 'A' … '[', 'a' … 'z', '0' … '9': how the FAT16 tests read "alphanumeric".
bool fat16Alnum(std::uint8_t c) { return between(c, 'A', '[') || between(c, 'a', 'z') || between(c, '0', '9'); }
// 'A' … '[', '_' … 'z', '0' … '9' for the FAT32 tests.
bool fat32Alnum(std::uint8_t c) { return between(c, 'A', '[') || between(c, '_', 'z') || between(c, '0', '9'); }

bool oneOf(std::uint8_t c, std::initializer_list<std::uint8_t> set)
{
    return std::find(set.begin(), set.end(), c) != set.end();
}

bool dateOk(std::uint16_t d)
{
    unsigned day = d & 0x1F, month = (d >> 5) & 0x0F;
    return day >= 1 && day <= 31 && month >= 1 && month <= 12;
}
bool timeOk(std::uint16_t t) { return (t >> 11) < 24 && ((t >> 5) & 0x3F) < 60 && (t & 0x1F) < 30; }

bool isDirectoryAttribute(std::uint8_t a) { return oneOf(a, {0x10, 0x11, 0x12, 0x14, 0x15, 0x16, 0x30}); }

std::uint32_t firstCluster(const std::uint8_t* s) { return (std::uint32_t{le16(s + 20)} << 16) | le16(s + 26); }

bool isDotName(const std::uint8_t* s, bool dotDot)
{
    if (s[0] != '.' || s[1] != (dotDot ? '.' : ' '))
        return false;
    for (int i = 2; i < 11; ++i)
        if (s[i] != ' ')
            return false;
    return (s[11] & 0x10) != 0 && s[11] != 0x0F;
}

} // namespace

bool matchesTable(TableSignature kind, std::span<const std::uint8_t> sector)
{
    if (sector.size() < 8)
        return false;
    const std::uint32_t w0 = le32(sector.data()), w1 = le32(sector.data() + 4);
    switch (kind) {
    case TableSignature::Fat16:
        return w0 == 0xFFFFFFF8;
    case TableSignature::Fat32:
        // Entry 1 is an end-of-chain mark; formatters differ on whether
        // they set its four reserved top bits too.
        return w0 == 0x0FFFFFF8 && (w1 & 0x0FFFFFFF) == 0x0FFFFFFF;
    case TableSignature::Exfat:
        return w0 == 0xFFFFFFF8 && w1 == 0xFFFFFFFF;
    case TableSignature::ExfatHeap:
        return w0 == 0xFFFFFFFF && w1 == 0xFFFFFFFF;
    }
    return false;
}

std::optional<DirectoryCluster> directoryClusterAt(std::span<const std::uint8_t> sector, std::uint64_t position,
                                                   bool fat32)
{
    if (sector.size() < 64 || !isDotName(sector.data(), false) || !isDotName(sector.data() + 32, true))
        return std::nullopt;
    std::uint32_t cluster = fat32 ? firstCluster(sector.data()) & 0x0FFFFFFF : le16(sector.data() + 26);
    if (cluster < 2)
        return std::nullopt;
    return DirectoryCluster{position, cluster};
}

std::optional<DataRegion> voteDataRegion(const std::vector<DirectoryCluster>& found,
                                         std::optional<std::uint64_t> clusterBytes)
{
    // Each pair of directories that follow each other on the volume gives a
    // cluster size; each directory and a cluster size give where cluster 2
    // is. The pairing the most directories agree on wins.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> votes;
    auto vote = [&](std::uint64_t k, const DirectoryCluster& d) {
        const std::uint64_t before = (std::uint64_t{d.cluster} - 2) * k;
        if (before <= d.position)
            ++votes[{k, d.position - before}];
    };
    if (clusterBytes) {
        for (const DirectoryCluster& d : found)
            vote(*clusterBytes, d);
    } else {
        std::vector<DirectoryCluster> sorted(found);
        std::sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.position < b.position; });
        for (std::size_t i = 1; i < sorted.size(); ++i) {
            const DirectoryCluster& a = sorted[i - 1];
            const DirectoryCluster& b = sorted[i];
            if (b.cluster <= a.cluster)
                continue;
            const std::uint64_t distance = b.position - a.position, clusters = b.cluster - a.cluster;
            if (distance % clusters != 0)
                continue;
            const std::uint64_t k = distance / clusters;
            if (k < 512 || k > (256u << 10) || (k & (k - 1)) != 0)
                continue;
            vote(k, a);
            vote(k, b);
        }
    }
    std::optional<DataRegion> best;
    for (const auto& [key, count] : votes)
        if (!best || count > best->votes)
            best = DataRegion{key.first, key.second, count};
    return best;
}

bool isFat16EntryCandidate(std::span<const std::uint8_t> slot, std::uint64_t clusterCount)
{
    if (slot.size() < 32)
        return false;
    const std::uint8_t* s = slot.data();
    const std::uint8_t c0 = s[0], c1 = s[1], a = s[11];
    auto c1Ok = [&] { return fat16Alnum(c1) || oneOf(c1, {0x20, ')', '.', '~', 0xE5}); };
    auto datesOk = [&] { return dateOk(le16(s + 16)) && dateOk(le16(s + 18)) && dateOk(le16(s + 24)); };
    auto timesOk = [&] { return timeOk(le16(s + 14)) && timeOk(le16(s + 22)); };
    const std::uint32_t cluster = le16(s + 26);
    if (a == 0x0F)
        return (fat16Alnum(c1) || oneOf(c1, {0x20, ')', '.', '~', 0xE5}) || (c1 == '_' && c0 != 0xE5)) && s[12] == 0 &&
               s[26] == 0;
    if (isDirectoryAttribute(a)) {
        if (!(fat16Alnum(c0) || oneOf(c0, {'$', '~', 0xE5})) || !c1Ok() || !datesOk() || !timesOk())
            return false;
        return c0 == 0xE5 || (le32(s + 28) == 0 && cluster != 0 && cluster < clusterCount);
    }
    if (a == 0x20 || a == 0x26)
        return (fat16Alnum(c0) || oneOf(c0, {0xE5, '~'})) && c1Ok() && (s[12] == 0 || s[12] == 0x18) &&
               cluster < clusterCount && datesOk() && timesOk();
    return false;
}

Fat32Slot classifyFat32Slot(std::span<const std::uint8_t> slot, std::uint64_t clusterCount)
{
    if (slot.size() < 32)
        return Fat32Slot::None;
    const std::uint8_t* s = slot.data();
    const std::uint8_t c0 = s[0], c1 = s[1], a = s[11];
    if (a == 0x0F)
        return (fat32Alnum(c1) || oneOf(c1, {0x20, '~', ',', '.', ')', 0xE5})) && s[12] == 0 && s[26] == 0
                   ? Fat32Slot::Entry
                   : Fat32Slot::None;
    auto plainAlnum = [](std::uint8_t c) { return between(c, 'A', 'Z') || between(c, 'a', 'z') || between(c, '0', '9'); };
    if (a == 0x08 || std::memcmp(s + 1, "RECYCLE", 7) == 0) {
        if ((plainAlnum(c0) || oneOf(c0, {0xE5, '~', '$'})) && (plainAlnum(c1) || oneOf(c1, {0x20, '~', '.', ')', 0xE5})) &&
            (s[12] == 0 || s[12] == 0x18) && s[28] == 0)
            return Fat32Slot::LabelOrRecycle;
    }
    const bool directory = isDirectoryAttribute(a);
    if (!directory && a != 0x20)
        return Fat32Slot::None;
    const std::uint32_t cluster = firstCluster(s) & 0x0FFFFFFF;
    const bool c0Ok = fat32Alnum(c0) || oneOf(c0, {0xE5, '~'}) || (directory && c0 == '$');
    const bool c1Ok = fat32Alnum(c1) || oneOf(c1, {0x20, '~', '.', 0xE5}) || (directory && c1 == ')');
    const bool nonZero = le16(s + 18) != 0 && le16(s + 16) != 0 && le16(s + 14) != 0 && le16(s + 22) != 0 &&
                         s[13] != 0 && le16(s + 24) != 0;
    const bool limits = dateOk(le16(s + 16)) && dateOk(le16(s + 18)) && dateOk(le16(s + 24)) &&
                        timeOk(le16(s + 14)) && timeOk(le16(s + 22));
    if (!c0Ok || !c1Ok || cluster == 0 || cluster >= clusterCount || !nonZero || !limits)
        return Fat32Slot::None;
    if (directory && c0 != 0xE5 && le32(s + 28) != 0)
        return Fat32Slot::None;
    if (!directory && ((s[12] != 0 && s[12] != 0x18) || le32(s + 28) == 0))
        return Fat32Slot::None;
    return Fat32Slot::Entry;
}

bool plausibleDirectorySlot(std::span<const std::uint8_t> slot, std::uint64_t clusterCount)
{
    if (slot.size() < 32)
        return false;
    const std::uint8_t* s = slot.data();
    if (s[0] == 0)
        return true; // free
    if (s[11] == 0x0F)
        return s[12] == 0 && le16(s + 26) == 0;
    if (s[11] & 0xC0)
        return false;
    for (int i = 0; i < 11; ++i) {
        const std::uint8_t c = s[i];
        const bool mark = i == 0 && (c == 0xE5 || c == 0x05);
        if (!mark && (c < 0x20 || oneOf(c, {'"', '*', '+', ',', '/', ':', ';', '<', '=', '>', '?', '\\', '|'})))
            return false;
    }
    auto dateOrNone = [&](std::size_t at) { return le16(s + at) == 0 || dateOk(le16(s + at)); };
    return dateOrNone(16) && dateOrNone(18) && dateOrNone(24) && timeOk(le16(s + 22)) &&
           (firstCluster(s) & 0x0FFFFFFF) < clusterCount + 2;
}

bool isExfatSetCandidate(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 96)
        return false;
    const std::uint8_t* f = bytes.data();
    if (f[0] != 0x85 && f[0] != 0x05)
        return false;
    const std::uint16_t attributes = le16(f + 4);
    if (!oneOf(static_cast<std::uint8_t>(attributes), {0x10, 0x11, 0x12, 0x13, 0x15, 0x20, 0x30}) || attributes > 0xFF)
        return false;
    if (le16(f + 6) != 0)
        return false;
    for (int i = 25; i < 32; ++i)
        if (f[i] != 0)
            return false;
    const std::uint8_t* s = f + 32;
    if ((s[0] != 0xC0 && s[0] != 0x40) || s[2] != 0 || le16(s + 6) != 0 || le32(s + 16) != 0 ||
        (s[1] != 1 && s[1] != 3))
        return false;
    const std::size_t nameEntries = (s[3] + 14) / 15;
    if (nameEntries == 0 || bytes.size() < (2 + nameEntries) * 32)
        return false;
    for (std::size_t n = 0; n < nameEntries; ++n) {
        const std::uint8_t t = f[64 + 32 * n];
        if (t != 0xC1 && t != 0x41)
            return false;
    }
    return true;
}

std::optional<std::uint64_t> exfatBitmapLength(std::span<const std::uint8_t> slot)
{
    if (slot.size() < 32 || slot[0] != 0x81 || slot[1] > 1)
        return std::nullopt;
    for (int i = 2; i < 20; ++i)
        if (slot[i] != 0)
            return std::nullopt;
    const std::uint64_t length = le64(slot.data() + 24);
    if (length == 0 || length > (512u << 20) || le32(slot.data() + 20) < 2)
        return std::nullopt;
    return length;
}

} // namespace qis::fatscan

#include "support/SyntheticFat.h"

#include <cstring>

namespace qis::test {
namespace {

void le16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void le32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void le64(std::uint8_t* p, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint8_t checksum(const std::uint8_t* name)
{
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
    return sum;
}

constexpr std::uint16_t kDosDate = ((2024 - 1980) << 9) | (3 << 5) | 15; // 2024-03-15
constexpr std::uint16_t kDosTime = (10 << 11) | (30 << 5);                // 10:30:00

} // namespace

SyntheticFat::SyntheticFat(bool fat32, std::uint32_t clusters) : fat32_(fat32)
{
    const std::uint32_t reserved = fat32 ? 32 : 1;
    const std::uint32_t entryBytes = fat32 ? 4 : 2;
    const std::uint32_t fatSectors = ((clusters + 2) * entryBytes + 511) / 512;
    const std::uint32_t rootSectors = fat32 ? 0 : 4; // 64 entries
    const std::uint64_t total = reserved + fatSectors + rootSectors + clusters;
    bytes.assign(total * 512, 0);
    std::uint8_t* b = bytes.data();
    b[0] = 0xEB;
    b[1] = fat32 ? 0x58 : 0x3C;
    b[2] = 0x90;
    std::memcpy(b + 3, "mkfs.fat", 8);
    le16(b + 11, 512);
    b[13] = 1;
    le16(b + 14, static_cast<std::uint16_t>(reserved));
    b[16] = 1;
    le16(b + 17, fat32 ? 0 : 64);
    if (total < 65536)
        le16(b + 19, static_cast<std::uint16_t>(total));
    else
        le32(b + 32, static_cast<std::uint32_t>(total));
    b[21] = 0xF8;
    if (fat32) {
        le32(b + 36, fatSectors);
        le32(b + 44, rootCluster);
    } else {
        le16(b + 22, static_cast<std::uint16_t>(fatSectors));
    }
    b[510] = 0x55;
    b[511] = 0xAA;
    fatOffset_ = std::uint64_t{reserved} * 512;
    rootOffset_ = fatOffset_ + std::uint64_t{fatSectors} * 512;
    dataOffset = rootOffset_ + std::uint64_t{rootSectors} * 512;
    // Entries 0 and 1 as formatting tools write them: media byte and end marks.
    setFat(0, fat32 ? 0x0FFFFFF8 : 0xFFF8);
    setFat(1, fat32 ? 0x0FFFFFFF : 0xFFFF);
}

void SyntheticFat::setFat(std::uint32_t cluster, std::uint32_t value)
{
    if (fat32_)
        le32(bytes.data() + fatOffset_ + 4ull * cluster, value);
    else
        le16(bytes.data() + fatOffset_ + 2ull * cluster, static_cast<std::uint16_t>(value));
}

void SyntheticFat::chain(const std::vector<std::uint32_t>& clusters)
{
    for (std::size_t i = 0; i < clusters.size(); ++i)
        setFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : (fat32_ ? 0x0FFFFFFF : 0xFFFF));
}

std::uint8_t* SyntheticFat::cluster(std::uint32_t c) { return bytes.data() + dataOffset + (c - 2ull) * kClusterBytes; }
std::uint8_t* SyntheticFat::rootRegion() { return bytes.data() + rootOffset_; }

void SyntheticFat::put(std::uint8_t* at, const std::vector<Slot>& slots)
{
    for (const Slot& s : slots) {
        std::memcpy(at, s.data(), s.size());
        at += s.size();
    }
}

std::vector<Slot> SyntheticFat::dotEntries(std::uint32_t self, std::uint32_t parent)
{
    return {shortSlot(".          ", 0x10, self, 0), shortSlot("..         ", 0x10, parent, 0)};
}

std::filesystem::path SyntheticFat::write(const TempDir& dir, const std::string& name) const
{
    writeWholeFile(dir / name, bytes);
    return dir / name;
}

Slot shortSlot(const char* name11, std::uint8_t attributes, std::uint32_t cluster, std::uint32_t size,
               std::uint8_t caseFlags)
{
    Slot s{};
    std::memcpy(s.data(), name11, 11);
    s[11] = attributes;
    s[12] = caseFlags;
    le16(s.data() + 14, kDosTime);
    le16(s.data() + 16, kDosDate);
    le16(s.data() + 18, kDosDate);
    le16(s.data() + 20, static_cast<std::uint16_t>(cluster >> 16));
    le16(s.data() + 22, kDosTime);
    le16(s.data() + 24, kDosDate);
    le16(s.data() + 26, static_cast<std::uint16_t>(cluster));
    le32(s.data() + 28, size);
    return s;
}

std::vector<Slot> longNameSlots(const std::u16string& name, const Slot& shortEntry)
{
    const std::size_t parts = (name.size() + 12) / 13;
    const std::uint8_t sum = checksum(shortEntry.data());
    std::vector<Slot> slots;
    for (std::size_t k = parts; k-- > 0;) {
        Slot s{};
        s[0] = static_cast<std::uint8_t>((k + 1) | (k + 1 == parts ? 0x40 : 0));
        s[11] = 0x0F;
        s[13] = sum;
        static constexpr std::size_t kOffsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (std::size_t i = 0; i < 13; ++i) {
            std::size_t at = k * 13 + i;
            char16_t c = at < name.size() ? name[at] : (at == name.size() ? u'\0' : u'\xFFFF');
            le16(s.data() + kOffsets[i], c);
        }
        slots.push_back(s);
    }
    slots.push_back(shortEntry);
    return slots;
}

std::vector<Slot> deleted(std::vector<Slot> slots)
{
    for (Slot& s : slots)
        s[0] = 0xE5;
    return slots;
}

SyntheticExfat::SyntheticExfat(std::uint32_t clusters)
{
    const std::uint32_t fatSector = 24, fatSectors = ((clusters + 2) * 4 + 511) / 512;
    const std::uint32_t heapSector = fatSector + fatSectors;
    const std::uint64_t total = heapSector + clusters;
    bytes.assign(total * 512, 0);
    std::uint8_t* b = bytes.data();
    b[0] = 0xEB;
    b[1] = 0x76;
    b[2] = 0x90;
    std::memcpy(b + 3, "EXFAT   ", 8);
    le64(b + 72, total);
    le32(b + 80, fatSector);
    le32(b + 84, fatSectors);
    le32(b + 88, heapSector);
    le32(b + 92, clusters);
    le32(b + 96, rootCluster);
    b[108] = 9;
    b[109] = 0;
    b[510] = 0x55;
    b[511] = 0xAA;
    fatOffset_ = std::uint64_t{fatSector} * 512;
    heapOffset_ = std::uint64_t{heapSector} * 512;
    setFat(0, 0xFFFFFFF8);
    setFat(1, 0xFFFFFFFF);
}

void SyntheticExfat::setFat(std::uint32_t cluster, std::uint32_t value)
{
    le32(bytes.data() + fatOffset_ + 4ull * cluster, value);
}

void SyntheticExfat::chain(const std::vector<std::uint32_t>& clusters)
{
    for (std::size_t i = 0; i < clusters.size(); ++i)
        setFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFFFFFFF);
}

std::uint8_t* SyntheticExfat::cluster(std::uint32_t c) { return bytes.data() + heapOffset_ + (c - 2ull) * kClusterBytes; }

void SyntheticExfat::put(std::uint8_t* at, const std::vector<Slot>& slots) { SyntheticFat::put(at, slots); }

std::filesystem::path SyntheticExfat::write(const TempDir& dir, const std::string& name) const
{
    writeWholeFile(dir / name, bytes);
    return dir / name;
}

std::vector<Slot> exfatSet(const std::u16string& name, std::uint16_t attributes, std::uint32_t cluster,
                           std::uint64_t length, std::uint8_t flags, bool isDeleted)
{
    const std::size_t nameEntries = (name.size() + 14) / 15;
    const std::uint8_t live = isDeleted ? 0x00 : 0x80;
    std::vector<Slot> set;
    Slot file{};
    file[0] = 0x05 | live;
    file[1] = static_cast<std::uint8_t>(1 + nameEntries);
    le16(file.data() + 4, attributes);
    const std::uint32_t stamp = (std::uint32_t{kDosDate} << 16) | kDosTime;
    le32(file.data() + 8, stamp);
    le32(file.data() + 12, stamp);
    le32(file.data() + 16, stamp);
    set.push_back(file);
    Slot stream{};
    stream[0] = 0x40 | live;
    stream[1] = flags;
    stream[3] = static_cast<std::uint8_t>(name.size());
    le64(stream.data() + 8, length);
    le32(stream.data() + 20, cluster);
    le64(stream.data() + 24, length);
    set.push_back(stream);
    for (std::size_t k = 0; k < nameEntries; ++k) {
        Slot n{};
        n[0] = 0x41 | live;
        for (std::size_t i = 0; i < 15 && k * 15 + i < name.size(); ++i)
            le16(n.data() + 2 + 2 * i, name[k * 15 + i]);
        set.push_back(n);
    }
    return set;
}

} // namespace qis::test

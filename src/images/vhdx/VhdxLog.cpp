#include "images/vhdx/VhdxLog.h"

#include "util/ByteReader.h"
#include "util/Crc32c.h"

#include <algorithm>
#include <array>
#include <vector>

namespace qis::vhdx {
namespace {

constexpr std::uint64_t kLogSector = 4096;
constexpr std::uint64_t kMiB = 1ull << 20;
// No file offset the log names may reach past this (64 PiB): far beyond any
// real image, and small enough that no sum of offsets and lengths overflows.
constexpr std::uint64_t kMaxFileOffset = 1ull << 56;

struct Descriptor {
    bool zero = false;
    std::uint64_t fileOffset = 0;
    std::uint64_t zeroLength = 0;
    std::uint64_t leading = 0;  // first 8 bytes of the sector written
    std::uint32_t trailing = 0; // last 4 bytes
    std::uint64_t dataSector = 0; // log sector (from the entry's start) with the other 4084
};

struct Entry {
    bool valid = false;
    std::uint64_t sequence = 0;
    std::uint64_t sectors = 0; // EntryLength / 4 KiB
    std::uint64_t tail = 0;    // log sector where its sequence starts
    std::uint64_t flushedFileOffset = 0;
    std::uint64_t lastFileOffset = 0;
};

// The log read whole, addressed by 4 KiB sector; an entry may run past the
// end of the log and go on at its start.
class CircularLog {
public:
    explicit CircularLog(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    [[nodiscard]] std::uint64_t sectors() const { return bytes_.size() / kLogSector; }
    [[nodiscard]] std::span<const std::uint8_t> sector(std::uint64_t index) const
    {
        return std::span<const std::uint8_t>(bytes_).subspan(
            static_cast<std::size_t>((index % sectors()) * kLogSector), kLogSector);
    }

private:
    std::vector<std::uint8_t> bytes_;
};

// Decodes and checks the entry that starts at log sector `at`. `crcBudget`
// bounds the bytes checksummed over the whole search: entries can be
// crafted to overlap, and each would otherwise be summed from every start.
// The entry's descriptors go to `descriptors`.
Entry readEntry(const CircularLog& log, std::uint64_t at, const Guid& logGuid, std::uint64_t& crcBudget,
                std::vector<Descriptor>& descriptors)
{
    descriptors.clear();
    Entry e;
    auto first = log.sector(at);
    ByteReader h(first);
    if (!h.matches(0x00, "loge"))
        return e;
    const std::uint32_t checksum = h.u32le(0x04);
    const std::uint32_t entryLength = h.u32le(0x08);
    const std::uint32_t tail = h.u32le(0x0C);
    e.sequence = h.u64le(0x10);
    const std::uint32_t descriptorCount = h.u32le(0x18);
    Guid guid{};
    auto g = h.bytes(0x20, 16);
    std::copy(g.begin(), g.end(), guid.begin());
    e.flushedFileOffset = h.u64le(0x30);
    e.lastFileOffset = h.u64le(0x38);

    e.sectors = entryLength / kLogSector;
    if (entryLength == 0 || entryLength % kLogSector != 0 || e.sectors > log.sectors())
        return e;
    if (tail % kLogSector != 0 || tail / kLogSector >= log.sectors() || guid != logGuid || e.sequence == 0)
        return e;
    if (e.flushedFileOffset > kMaxFileOffset || e.lastFileOffset > kMaxFileOffset)
        return e;
    e.tail = tail / kLogSector;
    // The header and the descriptors fill whole sectors: 126 descriptors
    // share the first with the header, 128 fit in each one after it.
    const std::uint64_t descriptorSectors = (std::uint64_t{descriptorCount} + 2 + 127) / 128;
    if (descriptorSectors > e.sectors)
        return e;

    if (crcBudget < entryLength)
        return e;
    crcBudget -= entryLength;
    std::array<std::uint8_t, 4> zero{};
    std::uint32_t crc = crc32c(first.first(4));
    crc = crc32c(zero, crc);
    crc = crc32c(first.subspan(8), crc);
    for (std::uint64_t s = 1; s < e.sectors; ++s)
        crc = crc32c(log.sector(at + s), crc);
    if (crc != checksum)
        return e;

    std::uint64_t dataSector = descriptorSectors;
    for (std::uint64_t i = 0; i < descriptorCount; ++i) {
        const std::uint64_t position = 64 + 32 * i; // from the entry's start
        auto sector = log.sector(at + position / kLogSector);
        ByteReader d(sector.subspan(static_cast<std::size_t>(position % kLogSector), 32));
        Descriptor desc;
        desc.zero = d.matches(0x00, "zero");
        if (!desc.zero && !d.matches(0x00, "desc"))
            return e;
        if (d.u64le(0x18) != e.sequence)
            return e;
        desc.fileOffset = d.u64le(0x10);
        if (desc.fileOffset % kLogSector != 0 || desc.fileOffset > kMaxFileOffset)
            return e;
        if (desc.zero) {
            desc.zeroLength = d.u64le(0x08);
            if (desc.zeroLength == 0 || desc.zeroLength % kLogSector != 0 || desc.zeroLength > kMaxFileOffset)
                return e;
        } else {
            desc.trailing = d.u32le(0x04);
            desc.leading = d.u64le(0x08);
            if (dataSector >= e.sectors)
                return e;
            ByteReader data(log.sector(at + dataSector));
            const std::uint64_t sequence = (std::uint64_t{data.u32le(0x04)} << 32) | data.u32le(0xFFC);
            if (!data.matches(0x00, "data") || sequence != e.sequence)
                return e;
            desc.dataSector = dataSector++;
        }
        descriptors.push_back(desc);
    }
    e.valid = true;
    return e;
}

std::string hex(std::uint64_t v)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    bool started = false;
    for (int shift = 60; shift >= 0; shift -= 4) {
        unsigned nibble = (v >> shift) & 0xF;
        if (nibble != 0 || started || shift == 0) {
            s += digits[nibble];
            started = true;
        }
    }
    return s;
}

} // namespace

LogReplay replayVhdxLog(const ImageFile& file, const LogLocation& location)
{
    LogReplay result;
    if (location.logGuid == Guid{} || location.logLength == 0)
        return result; // a clean log: nothing to replay
    auto ignore = [&result](std::string why) {
        result.ignored = std::move(why);
        return result;
    };
    if (location.logVersion != 0)
        return ignore("its version (" + std::to_string(location.logVersion) + ") is not one this program reads");
    if (location.logOffset < kMiB || location.logOffset % kMiB != 0 || location.logLength % kMiB != 0)
        return ignore("its place in the file (offset " + hex(location.logOffset) + ", length " +
                      hex(location.logLength) + ") is not aligned to 1 MiB");
    if (location.logLength > kMaxLogLength)
        return ignore("it is " + std::to_string(location.logLength >> 20) + " MiB long, more than is searched");
    if (location.logOffset > file.size() || file.size() - location.logOffset < location.logLength)
        return ignore("it reaches past the end of the file");

    std::vector<std::uint8_t> bytes(location.logLength, 0);
    int error = 0;
    if (file.readAt(location.logOffset, bytes, error) != bytes.size())
        return ignore("it could not be read");
    const CircularLog log(std::move(bytes));
    const std::uint64_t n = log.sectors();

    // Entries of a sound log do not overlap, so their sum is at most the
    // log; stale ones that survive beside newer ones add a little.
    std::uint64_t crcBudget = 4 * std::uint64_t{location.logLength};
    std::vector<Entry> entries(static_cast<std::size_t>(n));
    std::vector<Descriptor> descriptors;
    std::vector<std::uint64_t> heads;
    for (std::uint64_t at = 0; at < n; ++at) {
        entries[at] = readEntry(log, at, location.logGuid, crcBudget, descriptors);
        if (entries[at].valid)
            heads.push_back(at);
    }
    if (heads.empty())
        return ignore("the header names a log but no entry of it is valid");

    // The newest entry whose whole sequence, from its tail on, holds up.
    std::sort(heads.begin(), heads.end(),
              [&entries](std::uint64_t a, std::uint64_t b) { return entries[a].sequence > entries[b].sequence; });
    std::vector<std::uint64_t> chosen;
    std::uint64_t steps = 0;
    const std::uint64_t maxSteps = 64 * n;
    for (std::uint64_t head : heads) {
        std::vector<std::uint64_t> chain;
        std::uint64_t at = entries[head].tail, used = 0;
        std::uint64_t expected = 0;
        while (steps++ < maxSteps) {
            const Entry& e = entries[at];
            if (!e.valid || (!chain.empty() && e.sequence != expected) || used + e.sectors > n)
                break;
            chain.push_back(at);
            used += e.sectors;
            if (at == head)
                break;
            expected = e.sequence + 1;
            at = (at + e.sectors) % n;
        }
        if (!chain.empty() && chain.back() == head) {
            chosen = std::move(chain);
            break;
        }
        if (steps >= maxSteps)
            break;
    }
    if (chosen.empty())
        return ignore("no sequence of its entries is complete from its tail to its head");

    auto overlay = std::make_shared<VhdxOverlay>();
    for (std::uint64_t at : chosen) {
        const Entry& e = entries[at];
        // A file shorter than the log says it was made stable is cut short:
        // what the log would restore cannot be trusted to fit it.
        if (e.flushedFileOffset > file.size())
            return ignore("the file (" + std::to_string(file.size()) + " bytes) is shorter than its log entry " +
                          std::to_string(e.sequence) + " says it was (" + std::to_string(e.flushedFileOffset) +
                          " bytes)");
        std::uint64_t again = e.sectors * kLogSector;
        readEntry(log, at, location.logGuid, again, descriptors);
        for (const Descriptor& d : descriptors) {
            if (d.zero) {
                overlay->writeZeros(d.fileOffset, d.zeroLength);
                continue;
            }
            std::array<std::uint8_t, kLogSector> sector{};
            auto data = log.sector(at + d.dataSector);
            for (int i = 0; i < 8; ++i)
                sector[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(d.leading >> (8 * i));
            std::copy(data.begin() + 8, data.begin() + 8 + 4084, sector.begin() + 8);
            for (int i = 0; i < 4; ++i)
                sector[static_cast<std::size_t>(4092 + i)] = static_cast<std::uint8_t>(d.trailing >> (8 * i));
            overlay->writeSector(d.fileOffset, sector);
        }
        overlay->extendTo(e.lastFileOffset);
        result.descriptors += descriptors.size();
    }
    result.entries = chosen.size();
    result.overlay = std::move(overlay);
    return result;
}

} // namespace qis::vhdx

#include "recovery/carving/validation/Validators.h"

#include <algorithm>

namespace qis::carve::validation {
namespace {

// Load commands whose data lies at a file offset: a linkedit_data_command
// (code signature, function starts, chained fixups...) has it at 8, its
// size at 12.
bool linkeditData(std::uint64_t cmd)
{
    static constexpr std::uint64_t kCommands[] = {0x1D, 0x1E, 0x26, 0x29, 0x2B, 0x2E, 0x80000033, 0x80000034};
    return std::find(std::begin(kCommands), std::end(kCommands), cmd) != std::end(kCommands);
}

// A thin Mach-O at `base`: the furthest any of its segments, sections'
// relocations, symbol and string tables or linkedit data reach.
std::optional<std::uint64_t> thin(Source& s, std::uint64_t base)
{
    if (!s.has(base, 32))
        return std::nullopt;
    const std::uint32_t magic = s.be(base, 4);
    const bool little = magic == 0xCEFAEDFE || magic == 0xCFFAEDFE;
    const bool wide = magic == 0xCFFAEDFE || magic == 0xFEEDFACF;
    if (!little && magic != 0xFEEDFACE && magic != 0xFEEDFACF)
        return std::nullopt;
    auto num = [&](std::uint64_t at, int bytes) -> std::uint64_t {
        if (little)
            return s.le(base + at, bytes);
        return bytes == 8 ? std::uint64_t{s.be(base + at, 4)} << 32 | s.be(base + at + 4, 4) : s.be(base + at, bytes);
    };
    const std::uint64_t header = wide ? 32 : 28, commands = num(16, 4), commandBytes = num(20, 4);
    const std::uint64_t fileType = num(12, 4);
    if (commands == 0 || commands > 4096 || fileType == 0 || fileType > 12 || !s.has(base + header, commandBytes))
        return std::nullopt;
    std::uint64_t end = header + commandBytes;
    std::uint64_t p = header;
    for (std::uint64_t i = 0; i < commands; ++i) {
        if (p + 8 > header + commandBytes)
            return std::nullopt;
        const std::uint64_t cmd = num(p, 4), size = num(p + 4, 4);
        if (size < 8 || size % 4 != 0 || p + size > header + commandBytes)
            return std::nullopt;
        if ((cmd == 0x1 && size >= 56) || (cmd == 0x19 && size >= 72)) {
            const bool seg64 = cmd == 0x19;
            const std::uint64_t fileOffset = num(p + (seg64 ? 40 : 32), seg64 ? 8 : 4);
            const std::uint64_t fileSize = num(p + (seg64 ? 48 : 36), seg64 ? 8 : 4);
            if (fileOffset > s.limit() || fileSize > s.limit())
                return std::nullopt;
            if (fileSize != 0)
                end = std::max(end, fileOffset + fileSize);
            const std::uint64_t sectionBytes = seg64 ? 80 : 68, sections = num(p + (seg64 ? 64 : 48), 4);
            if ((seg64 ? 72 : 56) + sections * sectionBytes > size)
                return std::nullopt;
            for (std::uint64_t k = 0; k < sections; ++k) {
                const std::uint64_t sec = p + (seg64 ? 72 : 56) + k * sectionBytes;
                const std::uint64_t relocations = num(sec + (seg64 ? 56 : 48), 4), count = num(sec + (seg64 ? 60 : 52), 4);
                if (count != 0)
                    end = std::max(end, relocations + count * 8);
            }
        } else if (cmd == 0x2 && size >= 24) {
            end = std::max(end, num(p + 8, 4) + num(p + 12, 4) * (wide ? 16 : 12));
            end = std::max(end, num(p + 16, 4) + num(p + 20, 4));
        } else if (linkeditData(cmd) && size >= 16) {
            end = std::max(end, num(p + 8, 4) + num(p + 12, 4));
        }
        p += size;
    }
    return s.has(base, end) ? std::optional<std::uint64_t>(end) : std::nullopt;
}

} // namespace

Length machO(Source& s)
{
    if (!s.has(0, 8))
        return std::nullopt;
    const std::uint32_t magic = s.be(0, 4);
    if (magic != 0xCAFEBABE && magic != 0xCAFEBABF)
        return thin(s, 0);
    // A universal binary: big-endian slices of thin ones. Java class files
    // share the magic; their version word is far above any slice count.
    const bool wide = magic == 0xCAFEBABF;
    const std::uint64_t slices = s.be(4, 4), entry = wide ? 32 : 20;
    if (slices == 0 || slices > 32 || !s.has(8, slices * entry))
        return std::nullopt;
    std::uint64_t end = 8 + slices * entry;
    for (std::uint64_t i = 0; i < slices; ++i) {
        const std::uint64_t e = 8 + i * entry;
        const std::uint64_t offset = wide ? std::uint64_t{s.be(e + 8, 4)} << 32 | s.be(e + 12, 4) : s.be(e + 8, 4);
        const std::uint64_t size = wide ? std::uint64_t{s.be(e + 16, 4)} << 32 | s.be(e + 20, 4) : s.be(e + 12, 4);
        if (offset < 8 + slices * entry || !s.has(offset, size) || !thin(s, offset))
            return std::nullopt;
        end = std::max(end, offset + size);
    }
    return end;
}

} // namespace qis::carve::validation

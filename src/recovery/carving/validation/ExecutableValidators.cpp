#include "recovery/carving/validation/Validators.h"

#include <algorithm>
#include <string_view>

namespace qis::carve::validation {

Length elf(Source& s)
{
    if (!s.matches(0, "\x7F" "ELF") || !s.has(0, 64))
        return std::nullopt;
    const std::uint8_t klass = s.u8(4), data = s.u8(5);
    if ((klass != 1 && klass != 2) || (data != 1 && data != 2))
        return std::nullopt;
    const bool wide = klass == 2;
    auto num = [&](std::uint64_t at, int bytes) -> std::uint64_t {
        return data == 1 ? s.le(at, bytes) : (bytes == 8 ? std::uint64_t{s.be(at, 4)} << 32 | s.be(at + 4, 4) : s.be(at, bytes));
    };
    const std::uint64_t phoff = num(wide ? 0x20 : 0x1C, wide ? 8 : 4), shoff = num(wide ? 0x28 : 0x20, wide ? 8 : 4);
    const std::uint64_t phentsize = num(wide ? 0x36 : 0x2A, 2), phnum = num(wide ? 0x38 : 0x2C, 2);
    const std::uint64_t shentsize = num(wide ? 0x3A : 0x2E, 2), shnum = num(wide ? 0x3C : 0x30, 2);
    std::uint64_t end = std::max<std::uint64_t>(wide ? 64 : 52, shoff + shnum * shentsize);
    if (phnum != 0) {
        if (!s.has(phoff, phnum * phentsize) || phentsize < (wide ? 56u : 32u))
            return std::nullopt;
        end = std::max(end, phoff + phnum * phentsize);
        for (std::uint64_t i = 0; i < phnum; ++i) {
            const std::uint64_t h = phoff + i * phentsize;
            end = std::max(end, num(h + (wide ? 0x08 : 0x04), wide ? 8 : 4) + num(h + (wide ? 0x20 : 0x10), wide ? 8 : 4));
        }
    }
    if (shnum != 0) {
        if (!s.has(shoff, shnum * shentsize) || shentsize < (wide ? 64u : 40u))
            return std::nullopt;
        for (std::uint64_t i = 0; i < shnum; ++i) {
            const std::uint64_t h = shoff + i * shentsize;
            if (num(h + 4, 4) == 8)
                continue; // NOBITS takes no room in the file
            end = std::max(end, num(h + (wide ? 0x18 : 0x10), wide ? 8 : 4) + num(h + (wide ? 0x20 : 0x14), wide ? 8 : 4));
        }
    }
    return s.has(0, end) ? Length(end) : std::nullopt;
}

Length pe(Source& s)
{
    if (!s.matches(0, "MZ") || !s.has(0, 64))
        return std::nullopt;
    const std::uint64_t header = s.le(0x3C, 4);
    if (header > 4096 || !s.matches(header, std::string_view("PE\0\0", 4)) || !s.has(header, 24))
        return std::nullopt;
    const std::uint64_t sections = s.le(header + 6, 2), optional = s.le(header + 20, 2);
    const std::uint64_t table = header + 24 + optional;
    if (sections == 0 || sections > 96 || !s.has(table, sections * 40))
        return std::nullopt;
    std::uint64_t end = table + sections * 40;
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t raw = s.le(table + i * 40 + 16, 4), at = s.le(table + i * 40 + 20, 4);
        if (raw != 0)
            end = std::max(end, at + raw);
    }
    // A COFF symbol table and its string table (whose first word is its
    // length) may follow the sections.
    const std::uint64_t symbols = s.le(header + 12, 4), symbolCount = s.le(header + 16, 4);
    if (symbols != 0 && symbolCount < (1u << 24) && s.has(symbols + symbolCount * 18, 4)) {
        const std::uint64_t strings = symbols + symbolCount * 18;
        end = std::max(end, strings + std::max<std::uint64_t>(4, s.le(strings, 4)));
    }
    // A signed file's certificates follow its sections (the security
    // directory holds a file offset, not an address).
    const std::uint64_t magic = s.le(header + 24, 2);
    const std::uint64_t directories = header + 24 + (magic == 0x20B ? 112 : 96);
    if ((magic == 0x10B || magic == 0x20B) && optional >= (magic == 0x20B ? 112u : 96u) + 40 && s.has(directories, 40)) {
        const std::uint64_t at = s.le(directories + 32, 4), size = s.le(directories + 36, 4);
        if (at != 0 && size != 0)
            end = std::max(end, at + size);
    }
    return s.has(0, end) ? Length(end) : std::nullopt;
}

} // namespace qis::carve::validation

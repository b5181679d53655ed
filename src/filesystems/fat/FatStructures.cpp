#include "filesystems/fat/FatStructures.h"

#include "util/ByteReader.h"
#include "util/Windows1252.h"

namespace qis::fatdisk {

DirectorySlot DirectorySlot::parse(std::span<const std::uint8_t, kSlotSize> bytes)
{
    ByteReader r(bytes);
    DirectorySlot s;
    for (std::size_t i = 0; i < 11; ++i)
        s.name[i] = bytes[i];
    s.attributes = r.u8(11);
    s.caseFlags = r.u8(12);
    s.createTimeTenths = r.u8(13);
    s.createTime = r.u16le(14);
    s.createDate = r.u16le(16);
    s.accessDate = r.u16le(18);
    s.firstClusterHigh = r.u16le(20);
    s.writeTime = r.u16le(22);
    s.writeDate = r.u16le(24);
    s.firstClusterLow = r.u16le(26);
    s.fileSize = r.u32le(28);
    return s;
}

std::u16string shortNameText(const DirectorySlot& slot)
{
    auto part = [&](std::size_t from, std::size_t length, bool lower) {
        std::size_t end = from + length;
        while (end > from && slot.name[end - 1] == ' ')
            --end;
        std::u16string text;
        for (std::size_t i = from; i < end; ++i) {
            std::uint8_t b = slot.name[i];
            // 0x05 in the first place stands for a real 0xE5 character.
            if (i == 0 && b == 0x05)
                b = kDeletedMark;
            if (lower && b >= 'A' && b <= 'Z')
                b = static_cast<std::uint8_t>(b - 'A' + 'a');
            text.push_back(windows1252ToUtf16(b));
        }
        return text;
    };
    std::u16string base = part(0, 8, slot.caseFlags & kLowerCaseBase);
    std::u16string extension = part(8, 3, slot.caseFlags & kLowerCaseExtension);
    return extension.empty() ? base : base + u'.' + extension;
}

std::uint8_t shortNameChecksum(const std::uint8_t (&name)[11])
{
    std::uint8_t sum = 0;
    for (std::uint8_t b : name)
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + b);
    return sum;
}

LongNamePart LongNamePart::parse(std::span<const std::uint8_t, kSlotSize> bytes)
{
    ByteReader r(bytes);
    LongNamePart p;
    p.order = r.u8(0);
    p.checksum = r.u8(13);
    static constexpr std::size_t kOffsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t offset : kOffsets) {
        char16_t c = r.u16le(offset);
        if (c == 0)
            break;
        p.text.push_back(c);
    }
    return p;
}

} // namespace qis::fatdisk

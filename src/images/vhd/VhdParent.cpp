#include "images/vhd/VhdParent.h"

#include "util/ByteReader.h"
#include "util/Utf.h"
#include "util/Windows1252.h"

#include <algorithm>

namespace qis::vhd {
namespace {

struct Kind {
    std::uint32_t code;
    bool utf16; // UTF-16LE, else one byte per character
};

constexpr Kind kPreferred[] = {
    {platformCode("W2ru"), true},
    {platformCode("W2ku"), true},
    {platformCode("Wi2r"), false},
    {platformCode("Wi2k"), false},
};

std::string decode(std::span<const std::uint8_t> bytes, bool utf16)
{
    std::u16string text;
    if (utf16) {
        ByteReader r(bytes);
        for (std::size_t at = 0; at + 1 < bytes.size(); at += 2)
            text.push_back(static_cast<char16_t>(r.u16le(at)));
    } else {
        text = windows1252ToUtf16(bytes);
    }
    // Writers pad the path with NULs to the space they reserved.
    text.resize(std::min(text.size(), text.find(u'\0')));
    return utf16ToUtf8(text);
}

} // namespace

std::vector<std::string> parentNames(ImageFile& file, const VhdLayout& layout)
{
    std::vector<std::string> names;
    auto add = [&](std::string name) {
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(std::move(name));
    };
    for (const Kind& kind : kPreferred) {
        for (const ParentLocator& locator : layout.header.locators) {
            if (locator.platformCode != kind.code || locator.dataLength == 0 ||
                locator.dataLength > kMaxLocatorBytes)
                continue;
            if (locator.dataOffset > file.size() || locator.dataLength > file.size() - locator.dataOffset)
                continue;
            std::vector<std::uint8_t> bytes(locator.dataLength);
            bytes.resize(file.readAt(locator.dataOffset, bytes));
            add(decode(bytes, kind.utf16));
        }
    }
    add(utf16ToUtf8(layout.header.parentName));
    return names;
}

} // namespace qis::vhd

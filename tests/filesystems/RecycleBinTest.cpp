// The original path in a recycle bin's $I file, in both layouts.

#include "filesystems/RecycleBin.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

std::vector<std::uint8_t> infoFile(std::uint64_t version, const std::u16string& path, bool withLength)
{
    std::vector<std::uint8_t> bytes(24, 0);
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<std::uint8_t>(version >> (8 * i));
    if (withLength) {
        std::uint32_t units = static_cast<std::uint32_t>(path.size() + 1);
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(units >> (8 * i)));
    }
    for (char16_t c : path) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    if (!withLength)
        bytes.resize(24 + 520, 0);
    return bytes;
}

TEST(RecycleBin, ReadsTheOriginalPathInBothLayouts)
{
    EXPECT_EQ(recycledOriginalPath(infoFile(1, u"C:\\Docs\\report.txt", false)), u"C:\\Docs\\report.txt");
    EXPECT_EQ(recycledOriginalPath(infoFile(2, u"C:\\Users\\Demo\\Documents\\report.docx", true)),
              u"C:\\Users\\Demo\\Documents\\report.docx");
    // A version-2 file read as version 1 would begin with its length field.
    auto v2 = infoFile(2, u"D:\\x.txt", true);
    EXPECT_EQ(recycledOriginalPath(v2)->front(), u'D');
    EXPECT_FALSE(recycledOriginalPath(infoFile(2, u"", true)));
    EXPECT_FALSE(recycledOriginalPath(std::vector<std::uint8_t>(10, 0)));
    // A length that runs past the file takes what is there.
    auto cut = infoFile(2, u"C:\\a.txt", true);
    cut[24] = 0xFF;
    cut[25] = 0xFF;
    cut.resize(cut.size() - 4);
    EXPECT_EQ(recycledOriginalPath(cut), u"C:\\a.tx");
}

} // namespace
} // namespace qis

// Names from an image become safe path components, reversibly.

#include "platform/OutputNames.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

TEST(OutputNames, HostileNamesStayInsideTheFolder)
{
    const std::pair<std::u16string, std::string> cases[] = {
        {u"report.txt", "report.txt"},
        {u"..", "%2E%2E"},
        {u".", "%2E"},
        {u"../../etc/passwd", "..%2F..%2Fetc%2Fpasswd"},
        {u"a\\b", "a%5Cb"},
        {std::u16string(u"nul\0byte", 8), "nul%00byte"},
        {u"tab\there", "tab%09here"},
        {u"100%", "100%25"},
        {u"trailing.", "trailing%2E"},
        {u"", "%unnamed%"},
        {u"Ünïcødé – ok", "Ünïcødé – ok"},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(outputComponent(name), expected) << expected;
}

TEST(OutputNames, LongNamesAreCutOnACharacterAndTagged)
{
    std::u16string longName(255, u'é'); // 510 bytes in UTF-8
    std::string out = outputComponent(longName);
    EXPECT_LE(out.size(), 255u);
    EXPECT_EQ(out[out.size() - 9], '~');
    // The cut falls between characters: the kept part is whole é's.
    EXPECT_EQ((out.size() - 9) % 2, 0u);
    EXPECT_NE(outputComponent(std::u16string(255, u'a')), outputComponent(std::u16string(256, u'a')));
}

TEST(OutputNames, NumberedNamesKeepTheExtension)
{
    EXPECT_EQ(numberedName("report.txt", 1), "report (1).txt");
    EXPECT_EQ(numberedName("archive.tar.gz", 2), "archive.tar (2).gz");
    EXPECT_EQ(numberedName("README", 3), "README (3)");
    EXPECT_EQ(numberedName(".profile", 1), ".profile (1)");
}

} // namespace
} // namespace qis

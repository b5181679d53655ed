// The report formats over records whose names come from an image: a comma,
// quotes, markup characters, a control character and bytes that are not
// UTF-8. Each file must read back with a real parser of its format.

#include "recovery/report/Report.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>

namespace qis {
namespace {

const std::string kName = "Docs/a,\"b\" <&> \x01\xff.txt";

std::vector<SavedFileRecord> records()
{
    SavedFileRecord file;
    file.path = kName;
    file.entry = 42;
    file.deleted = true;
    file.recoverability = Recoverability::Guessed;
    file.size = 5000;
    file.modified = UnixTime{1710498600, 500000000};
    file.outputPath = "Docs/a,\"b\" _&_ .txt";
    file.status = SaveStatus::Guessed;
    file.reason = "its clusters were guessed";
    file.md5 = std::string(32, 'a');
    file.sha256 = std::string(64, 'b');
    SavedFileRecord carved;
    carved.path = "2097152 .jpg";
    carved.size = 9000;
    carved.status = SaveStatus::NotWritten;
    carved.reason = "No space left on device";
    carved.carved = CarvedOrigin{2097152, 9000, {{2097152, 4096}, {2105344, 4904}}, "jpg", "Pictures"};
    return {file, carved};
}

struct Format {
    const char* extension;
    std::function<void(const std::filesystem::path&, const std::string&)> check;
};

void PrintTo(const Format& f, std::ostream* os) { *os << f.extension; }

class ReportWriter : public ::testing::TestWithParam<Format> {};

TEST_P(ReportWriter, WritesWhatItsOwnParserReadsBack)
{
    test::TempDir dir;
    const auto path = dir / (std::string("report") + GetParam().extension);
    std::string error;
    ASSERT_TRUE(writeReport(path, records(), {"3.02", "/images/disk <1>.vhdx", "2", 1048576}, error)) << error;
    const auto bytes = test::readWholeFile(path);
    GetParam().check(path, std::string(bytes.begin(), bytes.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ReportWriter,
    ::testing::Values(
        Format{".json",
               [](const std::filesystem::path&, const std::string& text) {
                   const auto j = nlohmann::json::parse(text);
                   EXPECT_EQ(j["schema"], 1);
                   EXPECT_EQ(j["image"], "/images/disk <1>.vhdx");
                   const auto& f = j["files"][0];
                   EXPECT_EQ(f["path"], "Docs/a,\"b\" <&> \x01\xEF\xBF\xBD.txt");
                   EXPECT_EQ(f["entry"], 42);
                   EXPECT_EQ(f["status"], "guessed");
                   EXPECT_EQ(f["times"]["modified"]["utc"], "2024-03-15T10:30:00.5Z");
                   EXPECT_EQ(f["times"]["modified"]["epoch"], 1710498600);
                   EXPECT_TRUE(f["times"]["created"].is_null());
                   const auto& c = j["files"][1];
                   EXPECT_EQ(c["status"], "not written");
                   EXPECT_TRUE(c["outputPath"].is_null() && c["sha256"].is_null() && c["entry"].is_null());
                   EXPECT_EQ(c["offset"], 2097152);
                   EXPECT_EQ(c["pieces"][1]["length"], 4904);
               }},
        Format{".CSV",
               [](const std::filesystem::path&, const std::string& text) {
                   EXPECT_EQ(text.substr(0, text.find("\r\n")).find("path,entry,deleted,"), 0u);
                   EXPECT_NE(text.find("\r\n\"Docs/a,\"\"b\"\" <&> \x01\xEF\xBF\xBD.txt\",42,true,guessed,5000,,,,,"
                                       "2024-03-15T10:30:00.5Z,1710498600,\"Docs/a,\"\"b\"\" _&_ .txt\",guessed,"),
                             std::string::npos);
                   EXPECT_NE(text.find("\r\n2097152 .jpg,,false,live,9000,"), std::string::npos);
                   EXPECT_NE(text.find(",,2097152,9000,jpg,Pictures\r\n"), std::string::npos);
               }},
        Format{".xml",
               [](const std::filesystem::path& path, const std::string& text) {
                   const auto lint = test::runCommand("xmllint --noout " + test::shellQuote(path.string()));
                   EXPECT_EQ(lint.exitCode, 0) << lint.err;
                   EXPECT_NE(text.find("<filename>Docs/a,&quot;b&quot; &lt;&amp;&gt; \xEF\xBF\xBD\xEF\xBF\xBD.txt</filename>"),
                             std::string::npos);
                   EXPECT_NE(text.find("<image_filename>/images/disk &lt;1&gt;.vhdx</image_filename>"), std::string::npos);
                   EXPECT_NE(text.find("<inode>42</inode>"), std::string::npos);
                   EXPECT_NE(text.find("<alloc>0</alloc>"), std::string::npos);
                   EXPECT_NE(text.find("<mtime>2024-03-15T10:30:00.5Z</mtime>"), std::string::npos);
                   EXPECT_NE(text.find("<hashdigest type='sha256'>" + std::string(64, 'b')), std::string::npos);
                   EXPECT_NE(text.find("<byte_run file_offset='4096' img_offset='2105344' len='4904'/>"),
                             std::string::npos);
               }}),
    [](const auto& info) { return std::string(info.param.extension + 1); });

TEST(ReportPath, AnUnknownExtensionOrAnUnwritablePathIsAFailureTheCallerSees)
{
    EXPECT_FALSE(reportFormatFor("report.txt"));
    EXPECT_FALSE(reportFormatFor("report"));
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(writeReport(dir / "report.txt", records(), {}, error));
    EXPECT_FALSE(std::filesystem::exists(dir / "report.txt"));
    EXPECT_FALSE(writeReport(dir / "missing/report.json", records(), {}, error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    // A full disk.
    std::filesystem::create_symlink("/dev/full", dir / "full.xml");
    EXPECT_FALSE(writeReport(dir / "full.xml", records(), {}, error));
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
}

} // namespace
} // namespace qis

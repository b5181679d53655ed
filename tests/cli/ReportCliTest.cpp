// Hashes as a user sees them: save --report and list --hash on the sample
// disk's NTFS volume against the manifest written when it was made and the
// files written; carve --report against the carved files.

#include "support/Fixtures.h"
#include "support/SampleManifest.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>

namespace qis {
namespace {

nlohmann::json readJson(const std::filesystem::path& file)
{
    std::ifstream in(file);
    return nlohmann::json::parse(in, nullptr, false);
}

TEST(ReportCli, SaveReportAndListHashAgreeWithTheManifestAndTheFilesWritten)
{
    test::TempDir dir;
    const std::string image = test::fixture("sample.vhdx").string();
    std::map<std::string, std::string> manifest; // path -> sha256
    for (const auto& e : test::sampleManifest(1))
        if (e.kind != "dir")
            manifest[e.path] = e.sha256;

    const auto out = dir / "out", report = dir / "report.json";
    auto saved = test::runQsalvage({"save", image, "--volume", "0", "--output", out.string(), "--report", report.string()});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    auto json = readJson(report);
    ASSERT_TRUE(json.is_object()) << saved.err;
    EXPECT_EQ(json["schema"], 1);
    std::size_t checked = 0, whole = 0;
    for (const auto& f : json["files"]) {
        if (f["status"] != "whole")
            continue;
        ++whole;
        const std::string path = f["path"], written = f["outputPath"];
        EXPECT_EQ(f["sha256"], test::fileSha256(out / written)) << path;
        if (manifest.count(path)) {
            EXPECT_EQ(f["sha256"], manifest[path]) << path;
            ++checked;
        }
    }
    EXPECT_EQ(checked, manifest.size()) << "every file of the manifest is in the report";

    auto listed = test::runQsalvage({"list", image, "--volume", "0", "--hash", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    std::size_t hashed = 0;
    for (const auto& e : nlohmann::json::parse(listed.out))
        if (manifest.count(e["path"])) {
            EXPECT_EQ(e["sha256"], manifest[e["path"]]) << e["path"];
            EXPECT_EQ(e["hashComplete"], true) << e["path"];
            ++hashed;
        }
    EXPECT_EQ(hashed, manifest.size());

    // Run again with --skip-existing: every file is there, hashed the same.
    auto again = test::runQsalvage({"save", image, "--volume", "0", "--output", out.string(), "--skip-existing",
                                    "--report", (dir / "again.csv").string()});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    std::ifstream csv(dir / "again.csv");
    std::string line, header;
    std::getline(csv, header);
    std::size_t present = 0;
    while (std::getline(csv, line))
        present += line.find(",present,") != std::string::npos;
    EXPECT_EQ(present, whole) << header;
}

TEST(ReportCli, CarveReportHashesEachFileWrittenAndAnUnknownFormatIsRefused)
{
    test::TempDir dir;
    const std::string image = test::fixture("carve.img").string();
    const auto out = dir / "out", report = dir / "carve.json";
    auto r = test::runQsalvage({"carve", image, "--disk", "--output", out.string(), "--report", report.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto json = readJson(report);
    ASSERT_TRUE(json.is_object());
    std::size_t files = 0;
    for (const auto& f : json["files"]) {
        EXPECT_EQ(f["sha256"], test::fileSha256(out / f["outputPath"].get<std::string>())) << f["outputPath"];
        EXPECT_EQ(f["length"], std::filesystem::file_size(out / f["outputPath"].get<std::string>()));
        ++files;
    }
    std::size_t written = 0;
    for (const auto& f : std::filesystem::recursive_directory_iterator(out))
        written += f.is_regular_file();
    EXPECT_EQ(files, written);
    EXPECT_GT(files, 0u);

    auto xml = test::runQsalvage({"carve", image, "--disk", "--output", (dir / "x").string(), "--report",
                                  (dir / "carve.xml").string()});
    ASSERT_EQ(xml.exitCode, 0) << xml.err;
    std::ifstream in(dir / "carve.xml");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("<dfxml"), std::string::npos);
    EXPECT_NE(text.find("<hashdigest type='sha256'>"), std::string::npos);

    auto unknown = test::runQsalvage({"carve", image, "--disk", "--output", (dir / "y").string(), "--report",
                                      (dir / "carve.txt").string()});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "y")) << "refused before anything is written";
}

} // namespace
} // namespace qis

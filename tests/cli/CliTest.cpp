// qsalvage as a user runs it: info and export on images made by qemu-img.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

using test::runQsalvage;

struct ExportCase {
    const char* fixture;
    const char* qemuFormat;
};

class CliExport : public ::testing::TestWithParam<ExportCase> {};

TEST_P(CliExport, ExportEqualsQemuRawByteForByte)
{
    test::TempDir dir;
    auto image = test::fixture(GetParam().fixture);
    auto out = dir / "disk.img";
    auto r = runQsalvage({"export", image.string(), "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, out.string() + "\n");
    EXPECT_NE(r.err.find("Image Saved, click next to continue recovery proess."), std::string::npos) << r.err;
    EXPECT_TRUE(test::sameContents(out, test::qemuRawReference(image, GetParam().qemuFormat)));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CliExport,
                         ::testing::Values(ExportCase{"numbered-default.vhdx", "vhdx"},
                                           ExportCase{"numbered-1m.vhdx", "vhdx"},
                                           ExportCase{"numbered-dynamic.vhd", "vpc"},
                                           ExportCase{"numbered-fixed.vhd", "vpc"},
                                           ExportCase{"numbered.vdi", "vdi"}, ExportCase{"numbered.vmdk", "vmdk"},
                                           ExportCase{"big-6g.vhdx", "vhdx"}),
                         [](const auto& info) {
                             std::string n = info.param.fixture;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });

TEST(Cli, ExportIntoAFolderNamesTheOutputAfterTheImage)
{
    test::TempDir dir;
    auto image = test::fixtureCopy("numbered.vdi", dir, "disk.vdi");
    std::filesystem::create_directory(dir / "out");
    auto first = runQsalvage({"export", image.string(), "--output", (dir / "out").string()});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out, (dir / "out" / "disk.vdi.img").string() + "\n");
    auto second = runQsalvage({"export", image.string(), "--output", (dir / "out").string()});
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.out, (dir / "out" / "1disk.vdi.img").string() + "\n");

    auto again = runQsalvage({"export", image.string(), "--output", (dir / "out" / "disk.vdi.img").string()});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("not overwritten"), std::string::npos);
}

TEST(Cli, InfoShowsTheImagePageFields)
{
    auto r = runQsalvage({"info", test::fixture("numbered-default.vhdx").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Format: VHDX\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("File Format Version: 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Size of HDD: 128 MB\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Cylinder: N/A\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Virtual size: 134217728 bytes (262144 sectors)\n"), std::string::npos) << r.out;

    auto json = runQsalvage({"info", test::fixture("numbered.vdi").string(), "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"format\": \"VDI\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"fileFormatVersion\": \"65537\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"virtualSize\": 134217728"), std::string::npos) << json.out;
}

TEST(Cli, UsageErrorsAndFailures)
{
    EXPECT_EQ(runQsalvage({}).exitCode, 2);
    EXPECT_EQ(runQsalvage({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(runQsalvage({"info"}).exitCode, 2);
    EXPECT_EQ(runQsalvage({"info", "x", "--bogus"}).exitCode, 2);
    EXPECT_EQ(runQsalvage({"export", "x"}).exitCode, 2);
    auto missing = runQsalvage({"info", "/nonexistent/disk.vhdx"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_FALSE(missing.err.empty());
}

TEST(Cli, VersionIsTheProducts)
{
    for (const char* asked : {"--version", "-V"}) {
        auto r = runQsalvage({asked});
        EXPECT_EQ(r.exitCode, 0) << asked;
        EXPECT_EQ(r.out, std::string("qsalvage (Quenmar Image Salvage) ") + QIS_TEST_PRODUCT_VERSION + "\n") << asked;
    }
}

} // namespace
} // namespace qis

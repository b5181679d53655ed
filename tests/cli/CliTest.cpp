// qsalvage as a user runs it: info and export on images made by qemu-img.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

namespace qis {
namespace {

using test::runQsalvage;

struct ExportCase {
    const char* fixture;
    const char* qemuFormat;
    std::vector<const char*> companions = {}; // files the image's descriptor names
};

class CliExport : public ::testing::TestWithParam<ExportCase> {};

TEST_P(CliExport, ExportEqualsQemuRawByteForByte)
{
    test::TempDir dir;
    for (const char* companion : GetParam().companions)
        test::fixture(companion);
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
                                           ExportCase{"big-6g.vhdx", "vhdx"}, ExportCase{"numbered.qcow2", "qcow2"},
                                           ExportCase{"numbered-compressed.qcow2", "qcow2"},
                                           ExportCase{"numbered-v2.qcow2", "qcow2"},
                                           ExportCase{"chain-child.qcow2", "qcow2", {"chain-base.qcow2"}},
                                           ExportCase{"vmdk-streamOptimized.vmdk", "vmdk"},
                                           ExportCase{"vmdk-monolithicFlat.vmdk", "vmdk", {"vmdk-monolithicFlat-flat.vmdk"}},
                                           ExportCase{"vmdk-twoGbMaxExtentFlat.vmdk", "vmdk",
                                                      {"vmdk-twoGbMaxExtentFlat-f001.vmdk"}},
                                           ExportCase{"vmdk-snapshot.vmdk", "vmdk",
                                                      {"vmdk-twoGbMaxExtentSparse.vmdk",
                                                       "vmdk-twoGbMaxExtentSparse-s001.vmdk"}}),
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

TEST(Cli, InfoNamesTheFormatFoundWhateverTheName)
{
    test::TempDir dir;
    std::filesystem::copy_file(test::fixture("chain-base.qcow2"), dir / "chain-base.qcow2");
    auto child = test::fixtureCopy("chain-child.qcow2", dir, "child.img");
    auto r = runQsalvage({"info", child.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Format: QCOW2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("File Format Version: 3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Block size: 65536 bytes\n"), std::string::npos) << r.out;
    auto json = runQsalvage({"info", child.string(), "--json"});
    EXPECT_NE(json.out.find("\"differencing\": true"), std::string::npos) << json.out;

    // Without the file it names, the child is not read as a disk of its own.
    std::filesystem::remove(dir / "chain-base.qcow2");
    auto orphan = runQsalvage({"export", child.string(), "--output", (dir / "out.img").string()});
    EXPECT_EQ(orphan.exitCode, 1);
    EXPECT_NE(orphan.err.find((dir / "chain-base.qcow2").string()), std::string::npos) << orphan.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.img"));

    // A VHDX under another format's name is read as a VHDX.
    auto misnamed = test::fixtureCopy("ntfs-512.vhdx", dir, "disk.vdi");
    auto volumes = runQsalvage({"volumes", misnamed.string()});
    ASSERT_EQ(volumes.exitCode, 0) << volumes.err;
    EXPECT_NE(volumes.out.find("NTFS"), std::string::npos) << volumes.out;

    auto raw = dir / "disk.vmdk";
    test::writeWholeFile(raw, std::vector<std::uint8_t>(1 << 20, 0x5A));
    auto rawInfo = runQsalvage({"info", raw.string()});
    ASSERT_EQ(rawInfo.exitCode, 0) << rawInfo.err;
    EXPECT_NE(rawInfo.out.find("Format: RAW\n"), std::string::npos) << rawInfo.out;
}

// A child whose parent was renamed or moved: the places looked in are
// named, --parent names it, and a parent in another case is found.
TEST(Cli, ParentChainsFoundNamedOrRefused)
{
    test::TempDir dir;
    std::filesystem::copy_file(test::fixture("chain-base.qcow2"), dir / "moved.qcow2");
    auto child = test::fixtureCopy("chain-child.qcow2", dir, "child.qcow2");
    auto lost = runQsalvage({"info", child.string()});
    EXPECT_EQ(lost.exitCode, 1);
    EXPECT_NE(lost.out.find("Format: QCOW2\n"), std::string::npos) << lost.out;
    EXPECT_NE(lost.err.find("\"chain-base.qcow2\" of child.qcow2 was not found. Looked for: " +
                            (dir / "chain-base.qcow2").string() + ". Name it with --parent PATH."),
              std::string::npos)
        << lost.err;

    const std::string moved = (dir / "moved.qcow2").string();
    auto named = runQsalvage({"info", child.string(), "--parent", moved});
    ASSERT_EQ(named.exitCode, 0) << named.err;
    EXPECT_NE(named.out.find("Chain: " + child.string() + ": QCOW2, virtual size "), std::string::npos) << named.out;
    EXPECT_NE(named.out.find("   on: " + moved + ": QCOW2, virtual size "), std::string::npos) << named.out;
    auto out = dir / "out.img";
    auto exported = runQsalvage({"export", child.string(), "--parent=" + moved, "--output", out.string()});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_TRUE(test::sameContents(out, test::qemuRawReference(test::fixture("chain-child.qcow2"), "qcow2")));

    auto loop = runQsalvage({"export", child.string(), "--parent", child.string(), "--output", (dir / "l.img").string()});
    EXPECT_EQ(loop.exitCode, 1);
    EXPECT_NE(loop.err.find("The chain of images loops back to child.qcow2."), std::string::npos) << loop.err;

    std::filesystem::rename(dir / "moved.qcow2", dir / "CHAIN-BASE.QCOW2");
    auto json = runQsalvage({"info", child.string(), "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"path\": \"" + (dir / "CHAIN-BASE.QCOW2").string() + "\""), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"chainError\": null"), std::string::npos) << json.out;
}

TEST(Cli, InfoAndExportOfASplitVmdkThroughItsDescriptor)
{
    test::TempDir dir;
    auto descriptor = test::fixtureCopy("vmdk-twoGbMaxExtentSparse.vmdk", dir, "vmdk-twoGbMaxExtentSparse.vmdk");
    auto info = runQsalvage({"info", descriptor.string()});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("Format: VMDK\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Virtual size: 4194304 bytes (8192 sectors)\n"), std::string::npos) << info.out;

    // Its extent is not there yet: the message names the file.
    auto missing = runQsalvage({"export", descriptor.string(), "--output", (dir / "a.img").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("\"vmdk-twoGbMaxExtentSparse-s001.vmdk\""), std::string::npos) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "a.img"));

    test::fixtureCopy("vmdk-twoGbMaxExtentSparse-s001.vmdk", dir);
    auto out = dir / "b.img";
    auto exported = runQsalvage({"export", descriptor.string(), "--output", out.string()});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    test::fixture("vmdk-twoGbMaxExtentSparse-s001.vmdk");
    EXPECT_TRUE(test::sameContents(out, test::qemuRawReference(test::fixture("vmdk-twoGbMaxExtentSparse.vmdk"), "vmdk")));
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

// Each verb answers -h and --help with its own synopsis and options, on
// stdout and with exit 0; "help VERB" is the same page.
TEST(Cli, EveryVerbHasItsOwnHelp)
{
    const std::vector<std::pair<std::vector<std::string>, const char*>> verbs = {
        {{"info"}, "--json"},          {{"volumes"}, "--end-sector"},         {{"list"}, "--formatted"},
        {{"save"}, "--skip-existing"}, {{"search"}, "--mode"},                {{"candidates"}, "--max"},
        {{"carve"}, "--unallocated"},  {{"export"}, "--output"},              {{"signatures", "add"}, "--approx-size"},
        {{"signatures", "list"}, "--json"},
    };
    for (const auto& [verb, option] : verbs) {
        std::string name = verb[0] + (verb.size() > 1 ? " " + verb[1] : "");
        for (const char* asked : {"-h", "--help"}) {
            auto words = verb;
            words.push_back(asked);
            auto r = runQsalvage(words);
            EXPECT_EQ(r.exitCode, 0) << name << " " << asked << r.err;
            EXPECT_NE(r.out.find("Usage: qsalvage " + name + " "), std::string::npos) << name << "\n" << r.out;
            EXPECT_NE(r.out.find(option), std::string::npos) << name << "\n" << r.out;
            EXPECT_NE(r.out.find("--quiet"), std::string::npos) << name;
        }
    }
    EXPECT_EQ(runQsalvage({"help", "carve"}).out, runQsalvage({"carve", "--help"}).out);
    auto wrong = runQsalvage({"list", test::fixture("sample.vhdx").string(), "--volume"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_NE(wrong.err.find("Usage: qsalvage list IMAGE VOLUME"), std::string::npos) << wrong.err;
}

// "--volume=0" is "--volume 0"; after "--" a word that begins with a dash
// is a pattern, not an option.
TEST(Cli, OptionsTakeEqualsSignsAndDashDashEndsThem)
{
    const std::string image = test::fixture("sample.vhdx").string();
    auto spaced = runQsalvage({"list", image, "--volume", "0", "--json"});
    ASSERT_EQ(spaced.exitCode, 0) << spaced.err;
    EXPECT_EQ(runQsalvage({"list", image, "--volume=0", "--json"}).out, spaced.out);

    auto dashed = runQsalvage({"search", image, "--volume", "0", "--", "-letter"});
    ASSERT_EQ(dashed.exitCode, 0) << dashed.err;
    EXPECT_NE(dashed.out.find("Documents/deleted-letter.txt"), std::string::npos) << dashed.out;
    EXPECT_EQ(runQsalvage({"search", image, "--volume", "0", "-letter"}).exitCode, 2);
}

// Piped, a carve still says how far it is; --quiet keeps progress and
// status texts off stderr (messages stay); --log keeps each status text
// with its time.
TEST(Cli, ProgressLinesQuietAndLog)
{
    test::TempDir dir;
    const std::string image = test::fixture("carve.img").string();
    auto loud = runQsalvage({"carve", image, "--disk", "--output", (dir / "loud").string()});
    ASSERT_EQ(loud.exitCode, 0) << loud.err;
    EXPECT_TRUE(std::regex_search(loud.err, std::regex(R"((^|\n) *\d+% [0-9.]+ (bytes|[KMG]B) of 16\.0 MB)")))
        << loud.err;

    const auto log = dir / "carve.log";
    auto quiet = runQsalvage({"carve", image, "--disk", "--quiet", "--log", log.string(), "--output",
                              (dir / "quiet").string()});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.err.find(" of 16.0 MB"), std::string::npos) << quiet.err;
    EXPECT_EQ(quiet.err.find("saving File"), std::string::npos) << quiet.err;
    EXPECT_EQ(quiet.out, loud.out);
    std::ifstream in(log);
    std::string first;
    ASSERT_TRUE(std::getline(in, first));
    EXPECT_TRUE(std::regex_match(first, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ .+)"))) << first;

    auto unwritable = runQsalvage({"info", image, "--log", (dir / "no" / "such" / "log").string()});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_NE(unwritable.err.find("cannot be written"), std::string::npos) << unwritable.err;
}

} // namespace
} // namespace qis

// The raw export job: naming, pieces, status texts, Stop and failures.

#include "support/Fixtures.h"
#include "support/NumberedDisk.h"
#include "volumes/DiskExport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace qis {
namespace {

// Records what the job showed; can press Stop when a status text appears.
class RecordingReporter : public NullReporter {
public:
    void setStatusText(std::string_view text) override
    {
        statuses.emplace_back(text);
        if (stopOnStatus && text.find(" MB of ") != std::string_view::npos)
            stopOnStatus->store(true);
    }
    void setProgressRange(std::int32_t low, std::int32_t high) override { range = {low, high}; }
    void setProgressPos(std::int32_t position) override { positions.push_back(position); }
    MessageResult showMessage(std::string_view text, MessageIcon, MessageButtons) override
    {
        messages.emplace_back(text);
        return MessageResult::Ok;
    }

    std::vector<std::string> statuses, messages;
    std::vector<std::int32_t> positions;
    std::pair<std::int32_t, std::int32_t> range{};
    std::atomic<bool>* stopOnStatus = nullptr;
};

std::filesystem::path numberedRaw(const test::TempDir& dir, std::uint64_t sectors)
{
    std::vector<std::uint8_t> bytes;
    for (std::uint64_t k = 0; k < sectors; ++k) {
        auto s = test::numberedSector(k);
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    auto path = dir / "disk.img";
    test::writeWholeFile(path, bytes);
    return path;
}

DiskExport::Result runExport(WizardState& state, const std::filesystem::path& out, RecordingReporter& page,
                             DiskExport& exporter)
{
    PauseGate gate;
    JobContext job(page, gate);
    return exporter.run(state, out, job);
}

TEST(DiskExport, OutputNamesFollowTheImageName)
{
    test::TempDir dir;
    EXPECT_EQ(exportOutputPath(dir.path(), "/images/disk.vhdx"), dir / "disk.vhdx.img");
    test::writeWholeFile(dir / "disk.vhdx.img", {});
    EXPECT_EQ(exportOutputPath(dir.path(), "/images/disk.vhdx"), dir / "1disk.vhdx.img");
    test::writeWholeFile(dir / "1disk.vhdx.img", {});
    EXPECT_EQ(exportOutputPath(dir.path(), "/images/disk.vhdx"), dir / "2disk.vhdx.img");
    // A stopped export's partial file holds its name too.
    test::writeWholeFile(dir / "2disk.vhdx.img.partial", {});
    EXPECT_EQ(exportOutputPath(dir.path(), "/images/disk.vhdx"), dir / "3disk.vhdx.img");
    EXPECT_EQ(exportOutputPath(dir.path(), "/images/"), dir / "Recovered_diskimg.img");
}

TEST(DiskExport, StatusTextCountsMegabytesAndGigabytes)
{
    EXPECT_EQ(exportProgressText(100ull << 20, 8ull << 30), "100 MB of 8192 MB or 0.097656 GB of 8.000000 GB Saved");
}

TEST(DiskExport, TwelveMegabytesGoInPiecesOfFiveFiveAndTwo)
{
    test::TempDir dir;
    WizardState state;
    state.imagePath = numberedRaw(dir, 12 * 2048);
    state.imageFormat = ImageFormat::Raw;
    RecordingReporter page;
    DiskExport exporter;
    auto out = dir / "out.img";
    auto result = runExport(state, out, page, exporter);

    EXPECT_EQ(result.outcome, DiskExport::Outcome::Completed);
    EXPECT_EQ(std::filesystem::file_size(out), 12582912u);
    EXPECT_TRUE(test::sameContents(out, state.imagePath));
    EXPECT_EQ(result.writtenTo, out);
    EXPECT_FALSE(std::filesystem::exists(partialExportPath(out)));
    std::vector<std::string> expected = {
        exportProgressText(5 << 20, 12 << 20), exportProgressText(10 << 20, 12 << 20),
        exportProgressText(12 << 20, 12 << 20), "Image Saved, click next to continue recovery proess."};
    EXPECT_EQ(page.statuses, expected);
    EXPECT_EQ(page.range, std::make_pair(0, 12 * 2048));
    // The bar moves every 10 MiB, and once more at the end.
    EXPECT_EQ(page.positions, (std::vector<std::int32_t>{0, 10 * 2048, 12 * 2048}));
    EXPECT_EQ(state.currentReader, nullptr);
    EXPECT_EQ(state.diskSectorCount, 0u);
}

TEST(DiskExport, StopEndsAfterThePieceBeingCopied)
{
    test::TempDir dir;
    WizardState state;
    state.imagePath = numberedRaw(dir, 12 * 2048);
    state.imageFormat = ImageFormat::Raw;
    RecordingReporter page;
    DiskExport exporter;
    page.stopOnStatus = &exporter.exportStopRequested;
    auto out = dir / "out.img";
    auto result = runExport(state, out, page, exporter);

    EXPECT_EQ(result.outcome, DiskExport::Outcome::Stopped);
    // What was written keeps the partial name: nothing at the output's
    // name looks like a whole disk.
    EXPECT_FALSE(std::filesystem::exists(out));
    const auto partial = partialExportPath(out);
    EXPECT_EQ(result.writtenTo, partial);
    EXPECT_EQ(partial.filename(), "out.img.partial");
    // The first piece is written before the status that pressed Stop; the
    // second is copied before the flag is seen.
    EXPECT_EQ(std::filesystem::file_size(partial), 10u << 20);
    auto bytes = test::readWholeFile(partial);
    EXPECT_EQ(test::slice(bytes, (10 << 20) - 512, 512), test::numberedSector(10 * 2048 - 1));
    EXPECT_EQ(page.statuses.back(), "Image Saved, click next to continue recovery proess.");
    EXPECT_FALSE(exporter.exportStopRequested.load());
}

TEST(DiskExport, UnallocatedBlocksAreZerosAndLeftAsHoles)
{
    test::TempDir dir;
    WizardState state;
    state.imagePath = test::fixture("numbered-1m.vhdx");
    state.imageFormat = ImageFormat::Vhdx;
    RecordingReporter page;
    DiskExport exporter;
    auto out = dir / "out.img";
    ASSERT_EQ(runExport(state, out, page, exporter).outcome, DiskExport::Outcome::Completed);
    EXPECT_TRUE(test::sameContents(out, test::qemuRawReference(state.imagePath, "vhdx")));
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    // 4 MiB of data in a 128 MiB disk: far fewer blocks than the length.
    EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, 32ull << 20);
}

TEST(DiskExport, NeverOverwritesAndReportsWhatFailed)
{
    test::TempDir dir;
    WizardState state;
    state.imagePath = numberedRaw(dir, 16);
    state.imageFormat = ImageFormat::Raw;
    auto out = dir / "exists.img";
    test::writeWholeFile(out, {1, 2, 3});
    RecordingReporter page;
    DiskExport exporter;
    EXPECT_EQ(runExport(state, out, page, exporter).outcome, DiskExport::Outcome::CannotCreate);
    EXPECT_EQ(page.messages, std::vector<std::string>{"Disk Image file cannot be created"});
    EXPECT_EQ(test::readWholeFile(out), (std::vector<std::uint8_t>{1, 2, 3}));

    RecordingReporter page2;
    EXPECT_EQ(runExport(state, dir / "no/such/folder/x.img", page2, exporter).outcome,
              DiskExport::Outcome::CannotCreate);
    EXPECT_EQ(page2.messages, std::vector<std::string>{"File cannot be Created"});

    RecordingReporter page3;
    state.imagePath = dir / "missing.img";
    EXPECT_EQ(runExport(state, dir / "y.img", page3, exporter).outcome, DiskExport::Outcome::OpenFailed);
    EXPECT_EQ(page3.messages, std::vector<std::string>{"Invalid handle ..."});
    EXPECT_FALSE(std::filesystem::exists(dir / "y.img"));
}

} // namespace
} // namespace qis

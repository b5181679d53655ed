// The records of carved files saved from carve.img by several copier
// threads: in the order of the carved files, each written file's digests
// those of the file on disk, and the fragmented JPEG's pieces and digest
// those its manifest gives.

#include "images/raw/FileReadSeekRaw.h"
#include "recovery/carving/CarvedSave.h"
#include "recovery/carving/SignatureFile.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

TEST(CarvedReport, RecordsFollowTheCarvedFilesWithTheDigestsOfTheFilesWritten)
{
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(test::fixture("carve.img")));
    myJpg engine;
    loadDefaultSignatures(std::filesystem::path(QIS_CLI_PATH).parent_path() / kDefaultSignatureFile, engine);
    engine.reader = &reader;
    engine.scanSize = reader.diskSectorCount * kSectorSize;
    NullReporter quiet;
    PauseGate gate;
    JobContext job(quiet, gate);
    engine.carveVolume(job, nullptr);
    ASSERT_GT(engine.carvedFiles.size(), 10u);

    test::TempDir out;
    auto root = OutputFolder::open(out.path());
    std::vector<SavedFileRecord> records;
    auto every = [](std::size_t) { return true; };
    const CarvedSaveResult saved = saveCarvedFiles(engine, reader, *root, every, engine.rawStopRequested, job,
                                                   [&](const SavedFileRecord& r) { records.push_back(r); });
    ASSERT_EQ(records.size(), engine.carvedFiles.size());
    EXPECT_EQ(saved.written, records.size());
    bool split = false;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const SavedFileRecord& r = records[i];
        SCOPED_TRACE(r.outputPath);
        ASSERT_TRUE(r.carved);
        EXPECT_EQ(r.carved->offset, engine.carvedFiles[i].start);
        EXPECT_EQ(r.outputPath, saved.savedAs[i]);
        const auto file = out.path() / r.outputPath;
        EXPECT_EQ(std::filesystem::file_size(file), r.carved->length);
        EXPECT_EQ(r.sha256, test::fileSha256(file));
        EXPECT_EQ(r.md5, test::runCommand("md5sum " + test::shellQuote(file.string())).out.substr(0, 32));
        if (r.carved->offset == 64000) {
            split = true;
            EXPECT_EQ(r.carved->pieces, (std::vector<ByteRun>{{64000, 7168}, {78848, 8005}}));
            EXPECT_EQ(r.sha256, "8592f32198dfabe2c3001805a6402cf4b7c53672de68a4951fdf74a448f93a0d");
            EXPECT_EQ(r.carved->extension, "jpg");
        }
    }
    EXPECT_TRUE(split) << "the JPEG written around blink.gif is carved in its two pieces";
}

} // namespace
} // namespace qis

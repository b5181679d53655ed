// The carver on a sparse VHDX: the blocks qemu-img never allocated hold
// only zeros, so the scan passes over them without reading them and finds
// exactly what it finds on the raw disk the VHDX was made from.

#include "images/raw/FileReadSeekRaw.h"
#include "images/vhdx/FileReadSeekVHDX.h"
#include "recovery/carving/SignatureFile.h"
#include "recovery/carving/myJpg.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <string_view>
#include <tuple>

namespace qis {
namespace {

// Passes everything to the image's reader and keeps each read's byte range.
class CountingReader : public readWriteInterface {
public:
    explicit CountingReader(readWriteInterface& inner) : inner_(inner) { diskSectorCount = inner.diskSectorCount; }
    bool open(std::filesystem::path) override { return true; }
    bool seek(std::int64_t offset, std::int32_t origin) override
    {
        at_ = offset;
        return inner_.seek(offset, origin);
    }
    bool read(void* buffer, std::uint32_t length) override
    {
        reads.push_back({static_cast<std::uint64_t>(at_), length});
        return inner_.read(buffer, length);
    }
    std::uint64_t allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated) override
    {
        return inner_.allocationRun(offset, maxBytes, allocated);
    }
    std::vector<ByteRun> reads;

private:
    readWriteInterface& inner_;
    std::int64_t at_ = 0;
};

using Found = std::tuple<std::uint64_t, std::int64_t, std::uint8_t, bool, std::u16string>;

std::vector<Found> carve(readWriteInterface& reader, bool validate, std::uint64_t threadsFrom = 0,
                         std::uint64_t partBytes = 32ull << 20,
                         std::uint64_t* brokenStarts = nullptr, std::uint64_t* handedOverAt = nullptr,
                         const std::optional<std::vector<ByteRun>>& runs = std::nullopt)
{
    myJpg engine;
    engine.scanRuns = runs;
    engine.threadsFrom = threadsFrom;
    engine.partBytes = partBytes;
    loadDefaultSignatures(std::filesystem::path(QIS_CLI_PATH).parent_path() / kDefaultSignatureFile, engine);
    EXPECT_FALSE(engine.signatureTypes.empty());
    engine.reader = &reader;
    engine.scanSize = reader.diskSectorCount * kSectorSize;
    engine.validateLengths = validate;
    NullReporter quiet;
    PauseGate gate;
    JobContext job(quiet, gate);
    engine.carveVolume(job, nullptr);
    if (brokenStarts != nullptr)
        *brokenStarts = engine.brokenStarts;
    if (handedOverAt != nullptr)
        *handedOverAt = engine.handedOverAt;
    std::vector<Found> found;
    for (const CarvedFile& f : engine.carvedFiles)
        found.emplace_back(f.start, f.length, f.typeId, f.validated, f.extension);
    return found;
}

TEST(CarveSparseImage, PassesOverUnallocatedBlocksAndFindsWhatTheRawDiskHolds)
{
    test::TempDir dir;
    const auto raw = test::fixture("carve.img");
    // 1 MiB blocks: most of the 16 MiB volume is zeros, which qemu-img leaves unallocated.
    const auto vhdx = dir / "carve-1m.vhdx";
    auto made = test::runCommand("qemu-img convert -f raw -O vhdx -o block_size=1M " + test::shellQuote(raw.string()) +
                                 " " + test::shellQuote(vhdx.string()));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    // A raw image with holes where the disk holds zeros, as mkfs and
    // qemu-img leave them; and one with none, read whole.
    const auto sparse = dir / "carve-sparse.img", dense = dir / "carve-dense.img";
    for (const auto& [to, how] : {std::pair{sparse, "always"}, std::pair{dense, "never"}}) {
        made = test::runCommand(std::string("cp --sparse=") + how + " " + test::shellQuote(raw.string()) + " " +
                                test::shellQuote(to.string()));
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }
    FileReadSeekRaw plain;
    ASSERT_TRUE(plain.open(dense));
    FileReadSeekVHDX vhdxImage;
    ASSERT_TRUE(vhdxImage.open(vhdx));
    FileReadSeekRaw sparseImage;
    ASSERT_TRUE(sparseImage.open(sparse));
    const std::pair<const char*, readWriteInterface*> images[] = {{"VHDX", &vhdxImage}, {"sparse raw", &sparseImage}};

    for (const auto& [what, image] : images) {
        std::vector<ByteRun> holes;
        for (std::uint64_t at = 0; at < image->diskSectorCount * kSectorSize;) {
            bool allocated = true;
            const std::uint64_t n = image->allocationRun(static_cast<std::int64_t>(at), UINT64_MAX - at, allocated);
            ASSERT_GT(n, 0u) << what;
            if (!allocated)
                holes.push_back({at, n});
            at += n;
        }
        if (holes.empty() && image == &sparseImage)
            continue; // a file system that keeps no holes: nothing to pass over
        ASSERT_FALSE(holes.empty()) << what << " is not sparse: the test shows nothing";

        for (bool validate : {false, true}) {
            CountingReader counted(*image);
            const auto fromImage = carve(counted, validate);
            EXPECT_EQ(fromImage, carve(plain, validate)) << what << (validate ? ", validated" : ", by signatures");
            EXPECT_GE(fromImage.size(), 20u);
            if (validate)
                continue; // a validator may read on across a hole (it gets zeros); the scan itself may not
            ASSERT_FALSE(counted.reads.empty());
            for (const ByteRun& r : counted.reads)
                for (const ByteRun& h : holes)
                    EXPECT_FALSE(r.start < h.end() && h.start < r.end())
                        << what << ": read of " << r.length << " bytes at " << r.start << " lands in the hole at "
                        << h.start;
        }
    }
}

// A scan in parts on several threads finds what one thread finds, in the
// same order: on images whose parts begin in files, between files, in a
// file system's metadata and in files in pieces.
TEST(CarveSparseImage, ThreadsFindWhatOneFinds)
{
    for (const char* name : {"carve.img", "undelete-fat.img", "carve-fs.vhdx"}) {
        FileReadSeekRaw raw;
        FileReadSeekVHDX vhdx;
        readWriteInterface& image = std::string_view(name).ends_with(".vhdx") ? static_cast<readWriteInterface&>(vhdx) : raw;
        ASSERT_TRUE(image.open(test::fixture(name))) << name;
        std::uint64_t brokenAlone = 0;
        const auto alone = carve(image, true, 0, 0, &brokenAlone);
        EXPECT_FALSE(alone.empty()) << name;
        // Two parts, and parts of 1 MiB: most files lie across a part's end.
        for (std::uint64_t partBytes : {std::uint64_t{32} << 20, std::uint64_t{1} << 20}) {
            std::uint64_t broken = 0, at = 0;
            EXPECT_EQ(carve(image, true, 1, partBytes, &broken, &at), alone) << name << " in parts of " << partBytes;
            EXPECT_EQ(broken, brokenAlone) << name << " in parts of " << partBytes;
            // The first two parts are scanned by two threads: the first
            // scan meets the second's at the end of a file after it.
            EXPECT_NE(at, 0u) << name << " in parts of " << partBytes << ": one thread did it all";
        }
        // Starts looked for in scattered runs only (free space), parts
        // beginning inside and between them.
        const std::vector<ByteRun> runs{{0, 3u << 20}, {5u << 20, 3u << 20}, {11u << 20, 2u << 20}};
        const auto aloneInRuns = carve(image, true, 0, 0, &brokenAlone, nullptr, runs);
        EXPECT_FALSE(aloneInRuns.empty()) << name;
        EXPECT_LT(aloneInRuns.size(), alone.size()) << name << ": the runs leave files out";
        std::uint64_t broken = 0;
        EXPECT_EQ(carve(image, true, 1, 1u << 20, &broken, nullptr, runs), aloneInRuns) << name << " in runs";
        EXPECT_EQ(broken, brokenAlone) << name << " in runs";
    }
}

} // namespace
} // namespace qis

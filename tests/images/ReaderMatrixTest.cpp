// Every reader against qemu-img: for each fixture, every sector the reader
// delivers equals what `qemu-img convert -O raw` makes of the same image.

#include "images/BlockMappedReader.h"
#include "images/ImageFormat.h"
#include "images/vmdk/FileReadSeekVmdk.h"
#include "platform/ImageFile.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace qis {
namespace {

struct MatrixCase {
    const char* fixture;
    const char* qemuFormat;
    ImageFormat format;
    const char* backing = nullptr; // a fixture the image reads from, beside it
};

std::ostream& operator<<(std::ostream& os, const MatrixCase& c) { return os << c.fixture; }

const MatrixCase kCases[] = {
    {"numbered-default.vhdx", "vhdx", ImageFormat::Vhdx},
    {"numbered-1m.vhdx", "vhdx", ImageFormat::Vhdx},
    {"numbered-dynamic.vhd", "vpc", ImageFormat::Vhd},
    {"numbered-fixed.vhd", "vpc", ImageFormat::Vhd},
    {"numbered.vdi", "vdi", ImageFormat::Vdi},
    {"numbered.vmdk", "vmdk", ImageFormat::Vmdk},
    {"big-6g.vhdx", "vhdx", ImageFormat::Vhdx},
    {"numbered.qcow2", "qcow2", ImageFormat::Qcow2},
    {"numbered-compressed.qcow2", "qcow2", ImageFormat::Qcow2},
    {"numbered-v2.qcow2", "qcow2", ImageFormat::Qcow2},
    {"chain-child.qcow2", "qcow2", ImageFormat::Qcow2, "chain-base.qcow2"},
};

class ReaderMatrix : public ::testing::TestWithParam<MatrixCase> {
protected:
    void SetUp() override
    {
        if (GetParam().backing)
            test::fixture(GetParam().backing);
        image_ = test::fixture(GetParam().fixture);
        reference_ = test::qemuRawReference(image_, GetParam().qemuFormat);
        ASSERT_TRUE(refFile_.open(reference_));
        reader_ = createReader(GetParam().format);
        ASSERT_TRUE(reader_->open(image_)) << reader_->lastMessage();
    }

    std::filesystem::path image_, reference_;
    ImageFile refFile_;
    std::unique_ptr<readWriteInterface> reader_;
};

TEST_P(ReaderMatrix, DetectsItsFormatAndSize)
{
    EXPECT_EQ(detectImageFormat(image_), GetParam().format);
    EXPECT_EQ(reader_->diskSectorCount * 512, refFile_.size());
}

TEST_P(ReaderMatrix, EverySectorEqualsQemuRawOutput)
{
    constexpr std::uint32_t kChunk = 4u << 20;
    std::vector<std::uint8_t> ours(kChunk), theirs(kChunk);
    const std::uint64_t total = refFile_.size();
    ASSERT_TRUE(reader_->seek(0, 0));
    for (std::uint64_t at = 0; at < total; at += kChunk) {
        auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunk, total - at));
        ASSERT_TRUE(reader_->read(ours.data(), n)) << "at " << at;
        if (test::isHole(reference_, at, n)) {
            // The reference holds no data here: all zeros, no need to read it.
            ASSERT_TRUE(ours[0] == 0 && std::memcmp(ours.data(), ours.data() + 1, n - 1) == 0)
                << "data where qemu-img has none, in the 4 MiB at " << at;
            continue;
        }
        ASSERT_EQ(refFile_.readAt(at, {theirs.data(), n}), n);
        ASSERT_EQ(0, std::memcmp(ours.data(), theirs.data(), n)) << "first difference in the 4 MiB at " << at;
    }
}

TEST_P(ReaderMatrix, RandomSeeksRoundDownToSectorsAndMatch)
{
    std::mt19937_64 random(42);
    const std::uint64_t total = refFile_.size();
    // The position is each reader's own; VMDK's reader reads several files.
    auto* blockMapped = dynamic_cast<BlockMappedReader*>(reader_.get());
    auto* vmdk = dynamic_cast<FileReadSeekVmdk*>(reader_.get());
    ASSERT_TRUE(blockMapped || vmdk);
    readWriteInterface* reader = reader_.get();
    auto position = [&] { return blockMapped ? blockMapped->currentOffset : vmdk->currentOffset; };
    std::vector<std::uint8_t> ours, theirs;
    for (int i = 0; i < 400; ++i) {
        std::uint64_t offset = random() % total;
        std::uint64_t start = offset / 512 * 512;
        auto length = static_cast<std::uint32_t>(random() % (3 * 512 + 100));
        length = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, total - start));
        ours.assign(length, 0xCC);
        theirs.assign(length, 0);
        ASSERT_TRUE(reader->seek(static_cast<std::int64_t>(offset), 0)) << offset;
        ASSERT_TRUE(reader->read(ours.data(), length)) << offset << "+" << length;
        ASSERT_EQ(refFile_.readAt(start, theirs), length);
        ASSERT_EQ(ours, theirs) << "seek " << offset << " read " << length;
        // Only whole sectors move the position.
        EXPECT_EQ(position(), static_cast<std::int64_t>(offset + length / 512 * 512));
    }
}

TEST_P(ReaderMatrix, ReadsPastTheEndAreZerosAndFail)
{
    const std::uint64_t total = refFile_.size();
    // Far past every block table: nothing may come from an earlier position.
    std::vector<std::uint8_t> buffer(1024, 0xAB);
    EXPECT_FALSE(reader_->seek(static_cast<std::int64_t>(total + (64ull << 30)), 0));
    EXPECT_FALSE(reader_->read(buffer.data(), 1024));
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(1024, 0));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ReaderMatrix, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                             std::string n = info.param.fixture;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });

} // namespace
} // namespace qis

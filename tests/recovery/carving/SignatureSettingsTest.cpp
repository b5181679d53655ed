// The signature settings file: the editor's rules for what is typed, the
// 173-byte record, and loading files into the carver.

#include "recovery/carving/SignatureEditor.h"
#include "recovery/carving/SignatureFile.h"
#include "support/Fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

namespace qis {
namespace {

using ::testing::ElementsAre;

SignatureFields fields(const char* ext, const char* start)
{
    SignatureFields f;
    f.extension = ext;
    f.startSignature = start;
    f.category = "Pictures";
    return f;
}

std::filesystem::path emptyFile(const test::TempDir& dir, const char* name = "settings.txt")
{
    auto path = dir / name;
    std::ofstream(path, std::ios::binary);
    return path;
}

TEST(SignatureEditor, HexListsSkipEmptyPiecesAndBlanks)
{
    EXPECT_THAT(parseSignatureBytes("0x89, 0x50,0x4E,,0x47"), ElementsAre(0x89, 0x50, 0x4E, 0x47));
    EXPECT_THAT(parseSignatureBytes("ff,D8 junk,0x1FF"), ElementsAre(0xFF, 0xD8, 0xFF)) << "low 8 bits, up to the first non-digit";
    EXPECT_TRUE(parseSignatureBytes(" , ,").empty());
}

TEST(SignatureEditor, ExtensionsKeepFourCharactersAndTheirTypedLength)
{
    auto four = buildSignatureRecord(fields("tiff", "0x49,0x49"), 0);
    ASSERT_TRUE(four.record);
    EXPECT_EQ(four.record->extension, u"tiff");
    EXPECT_EQ(four.record->extensionLength, 4);
    auto five = buildSignatureRecord(fields("jpeg2", "0xFF,0xD8"), 0);
    ASSERT_TRUE(five.record);
    EXPECT_EQ(five.record->extension, u"jpeg");
    EXPECT_EQ(five.record->extensionLength, 5);
}

TEST(SignatureEditor, AnEmptyOrZeroSizeOffsetMeansNoSizeField)
{
    auto empty = buildSignatureRecord(fields("bmp", "0x42,0x4D"), 0);
    EXPECT_EQ(empty.record->offsetToSize, -1);
    auto f = fields("bmp", "0x42,0x4D");
    f.offsetToSize = "0";
    EXPECT_EQ(buildSignatureRecord(f, 0).record->offsetToSize, -1);
    f.offsetToSize = "2";
    EXPECT_EQ(buildSignatureRecord(f, 0).record->offsetToSize, 2);
}

TEST(SignatureEditor, WhatCannotBeARecordIsRefusedWithItsMessage)
{
    EXPECT_EQ(buildSignatureRecord(fields("", "0xFF"), 0).message, "extention length is zero..");
    EXPECT_EQ(buildSignatureRecord(fields("jpg", ","), 0).message, "signature length is zero..");
    EXPECT_EQ(buildSignatureRecord(fields("jpg", "1,2,3,4,5,6,7,8,9,10,11"), 0).message, "A signature has at most 10 bytes.");
    auto far = fields("jpg", "0xFF,0xD8");
    far.startOffset = "511";
    EXPECT_FALSE(buildSignatureRecord(far, 0).record) << "the signature would run past the sector";
    far.startOffset = "510";
    EXPECT_TRUE(buildSignatureRecord(far, 0).record);
    auto letters = fields("jpg", "0xFF,0xD8");
    letters.approxSize = "12k";
    EXPECT_FALSE(buildSignatureRecord(letters, 0).record);
    EXPECT_FALSE(buildSignatureRecord(fields("jpg", "0xFF,0xD8"), 256 * SignatureRecord::kBytes).record)
        << "an index of 8 bits counts 256 records";
}

TEST(SignatureRecordFormat, EveryFieldComesBackFromThe173Bytes)
{
    auto f = fields("wav", "0x57,0x41,0x56,0x45");
    f.startOffset = "8";
    f.endSignature = "0x00,0x3B";
    f.offsetToSize = "4";
    f.bytesInSize = "4";
    f.headerSize = "8";
    f.sizeIncludesHeader = true;
    f.skipSize = "2097152";
    f.approxSize = "4000000000";
    f.category = "Ünïcode sounds";
    auto built = buildSignatureRecord(f, 3 * SignatureRecord::kBytes);
    ASSERT_TRUE(built.record) << built.message;
    auto bytes = built.record->encode();
    EXPECT_EQ(bytes[0x23], 3) << "the record index";
    EXPECT_EQ(bytes[0x08], 0);
    EXPECT_EQ(bytes[0x09], 0);
    SignatureRecord back = SignatureRecord::decode(bytes);
    EXPECT_EQ(back.extension, u"wav");
    EXPECT_EQ(back.startOffset, 8);
    EXPECT_EQ(back.startLength, 4);
    EXPECT_EQ(back.endLength, 2);
    EXPECT_EQ(back.offsetToSize, 4);
    EXPECT_EQ(back.bytesInSize, 4);
    EXPECT_EQ(back.headerSize, 8);
    EXPECT_EQ(back.sizeIncludesHeader, 1);
    EXPECT_EQ(back.skipSize, 2097152);
    EXPECT_EQ(back.approxSize, 4000000000);
    EXPECT_EQ(back.category, u"Ünïcode sounds");
    EXPECT_EQ(back.encode(), bytes);
}

TEST(SignatureFile, ThreeSavedRecordsMake519BytesAndLoadAsThreeTypes)
{
    test::TempDir dir;
    auto path = emptyFile(dir);
    for (const char* ext : {"jpg", "png", "gif"})
        EXPECT_EQ(appendSignatureRecord(path, fields(ext, "0x01,0x02")), "everything initialized well.....");
    EXPECT_EQ(std::filesystem::file_size(path), 519u);
    std::vector<SignatureRecord> records;
    std::string message;
    ASSERT_TRUE(readSignatureFile(path, records, message)) << message;
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].recordIndex, 0);
    EXPECT_EQ(records[1].recordIndex, 1);
    EXPECT_EQ(records[2].recordIndex, 2);
    EXPECT_EQ(records[2].extension, u"gif");
    EXPECT_EQ(appendSignatureRecord(dir / "missing.txt", fields("jpg", "0x01")), "Select valid file to save the entries.");
}

TEST(SignatureFile, FilesThatAreNoSettingsAreRefused)
{
    test::TempDir dir;
    std::string message;
    myJpg engine;
    EXPECT_FALSE(loadSignatureFile(dir / "none.txt", engine, message));
    EXPECT_EQ(message, "Cannot open the selected file");
    auto tiny = emptyFile(dir, "tiny.txt");
    test::writeWholeFile(tiny, std::vector<std::uint8_t>(100, 0));
    EXPECT_FALSE(loadSignatureFile(tiny, engine, message));
    EXPECT_EQ(message, "Please select a valid file..");
    // One record whose size field claims nine bytes.
    auto f = fields("jpg", "0xFF,0xD8");
    f.bytesInSize = "9";
    auto nine = emptyFile(dir, "nine.txt");
    ASSERT_EQ(appendSignatureRecord(nine, f), "everything initialized well.....");
    EXPECT_FALSE(loadSignatureFile(nine, engine, message));
    EXPECT_EQ(message, "Please select a valid file..");
    EXPECT_TRUE(engine.signatureTypes.empty());
}

TEST(SignatureFile, RecordsAnnouncedButMissingAreNotReadPastTheEnd)
{
    test::TempDir dir;
    auto path = emptyFile(dir);
    auto r = buildSignatureRecord(fields("jpg", "0xFF,0xD8"), 0).record;
    r->recordIndex = 9; // says ten records, holds one
    auto bytes = r->encode();
    test::writeWholeFile(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    myJpg engine;
    std::string message;
    ASSERT_TRUE(loadSignatureFile(path, engine, message)) << message;
    EXPECT_EQ(engine.signatureTypes.size(), 1u);
}

TEST(SignatureFile, ALaterFilesTypesFollowTheEarlierOnesAndTheTotalStaysWithin128)
{
    test::TempDir dir;
    auto first = emptyFile(dir, "first.txt"), second = emptyFile(dir, "second.txt");
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(appendSignatureRecord(first, fields("a", "0x01,0x02")), "everything initialized well.....");
    for (int i = 0; i < 28; ++i)
        ASSERT_EQ(appendSignatureRecord(second, fields("b", "0x03,0x04")), "everything initialized well.....");
    myJpg engine;
    loadDefaultSignatures(first, engine);
    std::string message;
    ASSERT_TRUE(loadSignatureFile(second, engine, message)) << message;
    ASSERT_EQ(engine.signatureEntries.size(), 128u);
    EXPECT_EQ(engine.signatureEntries[100].typeId, 100);
    EXPECT_EQ(engine.signatureTypes[100].extension, u"b");
    EXPECT_FALSE(loadSignatureFile(second, engine, message));
    EXPECT_NE(message.find("128"), std::string::npos) << message;
    EXPECT_EQ(engine.signatureTypes.size(), 128u) << "nothing of a refused file is loaded";
}

} // namespace
} // namespace qis

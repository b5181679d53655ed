// Where text, mail, PDFs with updates, ZIP packages and phone JPEGs end,
// on files made by their own tools (tests/fixtures/make-doc-carve-files.sh)
// and laid on a disk followed by what a block holds after a file: zeros, or
// the binary of an earlier file.

#include "images/raw/FileReadSeekRaw.h"
#include "recovery/carving/CarveValidation.h"
#include "support/DocCarveFiles.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace qis {
namespace {

using namespace std::string_literals;

std::string fileText(const std::string& name)
{
    auto bytes = test::readWholeFile(test::docCarveFiles() / name);
    return {bytes.begin(), bytes.end()};
}

const std::string kZeros(4096, '\0');
const std::string kBinary = "\x01\x89\xFE\x00\x13\x37"s + std::string(4090, '\xAA');

std::optional<carve::Validated> validated(const std::u16string& ext, const std::string& file, const std::string& after)
{
    test::TempDir dir;
    const std::string disk = file + after;
    test::writeWholeFile(dir / "disk.img", std::vector<std::uint8_t>(disk.begin(), disk.end()));
    FileReadSeekRaw reader;
    EXPECT_TRUE(reader.open(dir / "disk.img"));
    return carve::validateFile(ext, reader, 0, disk.size());
}

TEST(CarveDocValidation, FilesMadeByTheirToolsEndWhereTheyEndAndAreNamedByTheirContents)
{
    struct Row {
        const char* file;
        std::u16string type;    // the signature's type that found it
        std::u16string shownAs; // the extension the contents give, empty when the type's own
    };
    const Row rows[] = {
        {"report.pdf", u"pdf", u""},   {"updated.pdf", u"pdf", u""},  {"linear.pdf", u"pdf", u""},
        {"book.epub", u"zip", u"epub"}, {"app.apk", u"zip", u"apk"},   {"big.zip", u"zip", u""},
        {"phone.jpg", u"jpg", u""},     {"thumbed.jpg", u"jpg", u""},   {"tool.py", u"sh", u"py"},
        {"build.sh", u"sh", u""},       {"drawing.svg", u"xml", u"svg"}, {"page.html", u"html", u""},
        {"data.json", u"json", u""},    {"inbox.mbox", u"mbox", u""},   {"note.eml", u"eml", u""},
    };
    for (const Row& row : rows)
        for (const std::string& after : {kZeros, kBinary}) {
            const std::string file = fileText(row.file);
            auto v = validated(row.type, file, after);
            ASSERT_TRUE(v) << row.file << (after == kZeros ? " before zeros" : " before binary");
            EXPECT_EQ(v->length, file.size()) << row.file << (after == kZeros ? " before zeros" : " before binary");
            EXPECT_EQ(v->extension, row.shownAs) << row.file;
        }
}

TEST(CarveDocValidation, APdfEndsAtTheLastUpdateWhoseXrefHoldsUp)
{
    const std::string report = fileText("report.pdf"), updated = fileText("updated.pdf");
    // The update cut before its own trailer: the file is the one before it.
    const std::string cut = updated.substr(0, updated.rfind("startxref"));
    EXPECT_EQ(validated(u"pdf", cut, kZeros)->length, report.size());
    // A startxref that points at no xref closes nothing.
    std::string wrong = updated;
    const auto last = wrong.rfind("startxref\n") + 10;
    wrong.replace(last, wrong.find('\n', last) - last, "17");
    EXPECT_EQ(validated(u"pdf", wrong, kZeros)->length, report.size());
    // What follows a PDF's %%EOF that is not a body does not belong to it.
    EXPECT_EQ(validated(u"pdf", report + "%PDF-1.4\n1 0 obj", kZeros)->length, report.size());
}

TEST(CarveDocValidation, APhoneJpegKeepsOnlyTheImagesItsIndexListsWhole)
{
    const std::string phone = fileText("phone.jpg"), second = fileText("b.jpg");
    const std::size_t first = phone.size() - second.size();
    // The secondary image cut short, or damaged where the index points at it.
    EXPECT_EQ(validated(u"jpg", phone.substr(0, phone.size() - 2), kZeros)->length, first);
    std::string moved = phone;
    moved[first] = '\0';
    EXPECT_EQ(validated(u"jpg", moved, kZeros)->length, first);
    // A trailer no marker announces is not the file's.
    EXPECT_EQ(validated(u"jpg", fileText("a.jpg") + "\xFF\xD8SEFT trailer"s, kZeros)->length, fileText("a.jpg").size());
}

TEST(CarveDocValidation, TextEndsAtItsLastWholeCharacterAndOnlyWholeDocumentsAreTaken)
{
    const std::string script = fileText("tool.py"), svg = fileText("drawing.svg"), json = fileText("data.json");
    // A character cut off by the block's end is dropped with it.
    EXPECT_EQ(validated(u"sh", script + "\xE2\x82", kZeros)->length, script.size());
    EXPECT_EQ(validated(u"sh", script + "\xC0\xAF", kZeros)->length, script.size()) << "an overlong form is no text";
    struct Rejected {
        std::u16string type;
        std::string text;
        const char* why;
    };
    const Rejected rejected[] = {
        {u"xml", svg.substr(0, svg.size() - 20), "an XML document cut inside its root element"},
        {u"json", json + "trailing words", "text after the JSON value"},
        {u"json", "{\n  int main(void);\n}\n", "a brace that opens C, not JSON"},
        {u"json", "{\"a\":" + std::string(100000, '['), "nesting past any real document"},
        {u"sh", "#!\n echo", "no interpreter path"},
        {u"html", "<html><body>cut", "HTML cut before its last tag"},
        {u"mbox", "From someone\nFrom: a@b.c\n\nbody\n", "a separator line without a delivery time"},
        {u"eml", "From: a@b.c\n\nbody\n", "a single header field"},
        {u"eml", "From: a@b.c\nthis is not a header\n\n", "a line in the header that is no field"},
    };
    for (const Rejected& r : rejected)
        EXPECT_FALSE(validated(r.type, r.text, kZeros)) << r.why;
}

} // namespace
} // namespace qis

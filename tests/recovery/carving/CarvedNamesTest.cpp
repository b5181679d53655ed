// Which deleted entry names a carved file, and the name it is saved under:
// the entry's own, with the extension the carver found kept.

#include "recovery/carving/CarvedNames.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

TEST(CarvedNames, AFileStartingAtADeletedEntrysDataTakesItsPathWithTheCarvedExtensionKept)
{
    myJpg engine;
    engine.signatureTypes.emplace_back().extension = u"jpg";
    DeletedStarts starts;
    starts[4096] = {{{u"DCIM", u"holiday.JPG"}, 100}};
    starts[8192] = {{{u"notes"}, 10}};
    starts[12288] = {{{u"Old", u"photo.bin"}, 10}};
    starts[16384] = {{{u"first"}, 10}, {{u"sized", u"a/b:c.jpg"}, 500}}; // the one of the carved length wins
    starts[20480] = {{{u"older"}, 10}, {{u"newer"}, 20}};                 // none fits: the first
    starts[24576] = {{{u"Lost", u""}, 10}};                                // no name left
    const struct {
        std::uint64_t start;
        std::vector<std::string> saved;
    } cases[] = {
        {4096, {"DCIM", "holiday.JPG"}},  {8192, {"notes.jpg"}}, {12288, {"Old", "photo.bin.jpg"}},
        {16384, {"sized", "a%2Fb:c.jpg"}}, {20480, {"older.jpg"}}, {24576, {"Lost", "24576 .jpg"}}, {4097, {"4097 .jpg"}},
    };
    for (const auto& c : cases) {
        CarvedFile& f = engine.carvedFiles.emplace_back();
        f.start = c.start;
        f.length = 500;
    }
    EXPECT_EQ(nameCarvedFiles(engine.carvedFiles, starts), 6u);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(carvedOutputPath(engine, i), cases[i].saved) << cases[i].start;
}

} // namespace
} // namespace qis

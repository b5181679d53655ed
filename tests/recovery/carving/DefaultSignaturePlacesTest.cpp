#include "recovery/carving/DefaultSignaturePlaces.h"
#include "support/Fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

namespace qis {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

// A prefix as an install lays it out, a user's home and a separate
// XDG_DATA_HOME, with the default file written where each case puts it.
struct Tree {
    test::TempDir dir;
    fs::path bin = dir / "prefix/bin";
    fs::path installed = dir / "prefix/share/qsalvage/FileSetting.txt";
    fs::path beside = bin / "FileSetting.txt";
    fs::path home = dir / "home";
    fs::path homeData = home / ".local/share/qsalvage/FileSetting.txt";
    fs::path xdg = dir / "xdg";
    fs::path xdgData = xdg / "qsalvage/FileSetting.txt";

    Tree() { fs::create_directories(bin); }
    static void put(const fs::path& file)
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "x";
    }
};

TEST(DefaultSignaturePlaces, TheFirstPlaceHoldingTheFileWins)
{
    enum Where { Installed, Beside, Xdg, Home, Nowhere };
    struct Case {
        const char* name;
        std::vector<Where> present;
        bool setXdg;
        Where expected;
    };
    const Case cases[] = {
        {"all present: the install's data folder", {Installed, Beside, Xdg, Home}, true, Installed},
        {"beside the program before the user's folder", {Beside, Xdg, Home}, true, Beside},
        {"XDG_DATA_HOME rather than ~/.local/share", {Xdg, Home}, true, Xdg},
        {"~/.local/share without XDG_DATA_HOME", {Xdg, Home}, false, Home},
        {"XDG_DATA_HOME set hides ~/.local/share", {Home}, true, Nowhere},
        {"none", {}, true, Nowhere},
    };
    for (const Case& c : cases) {
        Tree t;
        const fs::path paths[] = {t.installed, t.beside, t.xdgData, t.homeData};
        for (Where w : c.present)
            Tree::put(paths[w]);
        auto search = findDefaultSignatures(t.bin, c.setXdg ? t.xdg.string() : "", t.home.string());
        EXPECT_EQ(search.found, c.expected == Nowhere ? fs::path() : paths[c.expected]) << c.name;
    }
}

TEST(DefaultSignaturePlaces, TheUserFolderFollowsTheXdgRules)
{
    const fs::path bin = "/opt/q/bin";
    EXPECT_THAT(defaultSignaturePlaces(bin, "/data", "/home/u"),
                ElementsAre("/opt/q/share/qsalvage/FileSetting.txt", "/opt/q/bin/FileSetting.txt",
                            "/data/qsalvage/FileSetting.txt"));
    EXPECT_EQ(defaultSignaturePlaces(bin, "relative/data", "/home/u").back(),
              "/home/u/.local/share/qsalvage/FileSetting.txt")
        << "a relative XDG_DATA_HOME is ignored";
    EXPECT_EQ(defaultSignaturePlaces(bin, "", "").size(), 2u) << "no HOME: no user folder";
}

TEST(DefaultSignaturePlaces, AFolderOfThatNameIsNotTheFile)
{
    Tree t;
    fs::create_directories(t.installed);
    Tree::put(t.beside);
    EXPECT_EQ(findDefaultSignatures(t.bin, "", t.home.string()).found, t.beside);
}

} // namespace
} // namespace qis

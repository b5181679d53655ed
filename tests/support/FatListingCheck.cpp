#include "support/FatListingCheck.h"

#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace qis::test {
namespace {

// "R", "H", "S", "A" letters as the manifest has them, from "-R-A".
std::string letters(const std::string& attributeText)
{
    std::string out;
    for (char c : attributeText)
        if (c != '-')
            out += c;
    return out.empty() ? "-" : out;
}

} // namespace

void expectListingMatchesManifest(const FatManifest& manifest, const std::map<std::string, Listed>& listed,
                                  const std::set<std::string>& alsoListed)
{
    std::set<std::string> expected = alsoListed;
    for (const auto& m : manifest.entries) {
        std::string path = shownPath(manifest, m.path);
        expected.insert(path);
        auto it = listed.find(path);
        if (it == listed.end()) {
            ADD_FAILURE() << path << " is missing";
            continue;
        }
        EXPECT_EQ(it->second.type, m.kind) << path;
        EXPECT_EQ(it->second.deleted, m.deleted) << path;
        if (m.kind == "file") {
            EXPECT_EQ(it->second.size, m.size) << path;
            EXPECT_EQ(it->second.mtime, m.mtime) << path;
            EXPECT_EQ(letters(it->second.attributes), m.attributes) << path;
        }
    }
    for (const auto& [path, e] : listed)
        EXPECT_TRUE(expected.count(path)) << "listed but not in the golden listing: " << path;
}

void expectLiveFilesSaved(const FatManifest& manifest, const std::filesystem::path& out)
{
    for (const auto& m : manifest.entries) {
        auto path = out / shownPath(manifest, m.path);
        if (m.kind == "dir") {
            EXPECT_TRUE(std::filesystem::is_directory(path)) << path;
            continue;
        }
        if (m.deleted)
            continue;
        ASSERT_TRUE(std::filesystem::exists(path)) << path;
        EXPECT_EQ(fileSha256(path), m.source) << path;
        EXPECT_EQ(fileMtimeIso(path), m.mtime) << path;
    }
}

} // namespace qis::test

// The lazily filled tree on the sample disk's NTFS volume.

#include "filesystems/TreeFill.h"
#include "filesystems/ntfs/NtfsVolumeParser.h"
#include "images/vhdx/FileReadSeekVHDX.h"
#include "support/Fixtures.h"
#include "util/Utf.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

struct RecordingSink : TreeSink {
    struct Item {
        ItemId parent;
        std::string text;
        bool folder, red;
    };
    std::vector<Item> items = {{0, "", true, false}}; // item 0: the volume's root item
    ItemId addItem(ItemId parent, EntryHandle, const std::u16string& text, bool folder, bool red) override
    {
        items.push_back({parent, utf16ToUtf8(text), folder, red});
        return items.size() - 1;
    }
    void addPlaceholder(ItemId parent) override { items.push_back({parent, utf16ToUtf8(placeholderItem), false, false}); }
    std::vector<std::string> under(ItemId parent) const
    {
        std::vector<std::string> texts;
        for (const auto& i : items)
            if (i.parent == parent && &i != &items[0])
                texts.push_back(i.text + (i.red ? " (red)" : ""));
        return texts;
    }
    ItemId find(const std::string& text) const
    {
        for (ItemId i = 0; i < items.size(); ++i)
            if (items[i].text == text)
                return i;
        return 0;
    }
};

class SampleTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(reader.open(test::fixture("sample.vhdx")));
        parser = std::make_unique<ntfs>(reader);
        parser->volumeStartSector = 2048;
        NullReporter quiet;
        PauseGate gate;
        JobContext job(quiet, gate);
        parser->runScan(job);
        view = std::make_unique<NtfsVolumeParser>(*parser);
    }
    FileReadSeekVHDX reader;
    std::unique_ptr<ntfs> parser;
    std::unique_ptr<NtfsVolumeParser> view;
};

TEST_F(SampleTree, TopLevelFirstWithPlaceholdersUnderFolders)
{
    RecordingSink sink;
    fillTopLevelTree(*view, sink, 0);
    auto documents = sink.find("Documents");
    ASSERT_NE(documents, 0u);
    EXPECT_EQ(sink.under(documents), std::vector<std::string>{"..DUMY.."});
    EXPECT_EQ(sink.under(0).back(), "ORPHAN_ENTRY"); // no orphans: no placeholder either
    EXPECT_EQ(sink.under(sink.find("ORPHAN_ENTRY")).size(), 0u);
}

TEST_F(SampleTree, ExpandingShowsDeletedChildrenPlainAndClickingShowsThemRed)
{
    auto top = view->topLevel();
    EntryHandle documents = kNoEntry;
    for (EntryHandle e : top)
        if (view->name(e) == u"Documents")
            documents = e;
    ASSERT_NE(documents, kNoEntry);
    RecordingSink expanded, clicked;
    fillFolderItem(*view, expanded, 0, documents, Population::Expand);
    fillFolderItem(*view, clicked, 0, documents, Population::Click);
    EXPECT_EQ(expanded.under(0), (std::vector<std::string>{"report.txt", "deleted-letter.txt", "notes"}));
    EXPECT_EQ(clicked.under(0), (std::vector<std::string>{"report.txt", "deleted-letter.txt (red)", "notes"}));
    EXPECT_EQ(expanded.under(expanded.find("notes")), std::vector<std::string>{"..DUMY.."});
}

} // namespace
} // namespace qis

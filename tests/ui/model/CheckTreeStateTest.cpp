// The check rules of the wizard's folder tree and file list: what checking
// an item does to the items below and above it, and the header box.

#include "ui/model/CheckTreeState.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

using Tree = CheckTreeState;

struct Folder {
    Tree tree;
    Tree::ItemId top, folder, a, b, c;
    Folder()
    {
        top = tree.insert(Tree::kRoot);
        folder = tree.insert(top);
        a = tree.insert(folder);
        b = tree.insert(folder);
        c = tree.insert(folder);
    }
};

TEST(CheckTree, CheckingAFolderChecksEverythingBelowAndUncheckingOneLeavesItPartly)
{
    Folder f;
    ASSERT_TRUE(f.tree.setCheck(f.folder, true));
    for (auto item : {f.folder, f.a, f.b, f.c})
        EXPECT_EQ(f.tree.image(item), Tree::kChecked);
    EXPECT_TRUE(f.tree.getCheck(f.top)) << "its only child is checked";
    f.tree.setCheck(f.b, false);
    EXPECT_EQ(f.tree.image(f.folder), Tree::kPartly);
    EXPECT_FALSE(f.tree.getCheck(f.folder)) << "a partly checked folder reads unchecked";
    EXPECT_EQ(f.tree.image(f.top), Tree::kPartly);
    EXPECT_EQ(f.tree.checkedDescendants(f.top), 2u) << "a and c; the folder itself is no longer checked";
}

TEST(CheckTree, CheckingTheLastUncheckedChildChecksTheFolderAndItsParentInOneStep)
{
    Folder f;
    f.tree.setCheck(f.a, true);
    f.tree.setCheck(f.b, true);
    EXPECT_EQ(f.tree.image(f.folder), Tree::kPartly);
    EXPECT_EQ(f.tree.image(f.top), Tree::kPartly);
    f.tree.setCheck(f.c, true);
    EXPECT_EQ(f.tree.image(f.folder), Tree::kChecked);
    EXPECT_EQ(f.tree.image(f.top), Tree::kChecked);
    EXPECT_TRUE(f.tree.getCheck(f.top));
    EXPECT_EQ(f.tree.checkedDescendants(f.top), 4u) << "the folder counts once it is checked";
    f.tree.setCheck(f.top, false);
    for (auto item : {f.top, f.folder, f.a, f.b, f.c})
        EXPECT_EQ(f.tree.image(item), Tree::kUnchecked);
}

TEST(CheckTree, ADisabledItemIgnoresChecksAndShowsTheDisabledImages)
{
    Folder f;
    f.tree.setEnabled(f.a, false);
    EXPECT_FALSE(f.tree.setCheck(f.a, true));
    EXPECT_EQ(f.tree.image(f.a), Tree::kUnchecked + Tree::kDisabled);
    f.tree.setExpanded(f.folder, true);
    EXPECT_TRUE(f.tree.expanded(f.folder));
    f.tree.setEnabled(f.folder, false);
    f.tree.setExpanded(f.folder, false);
    EXPECT_TRUE(f.tree.expanded(f.folder)) << "a disabled item is not collapsed";
    f.tree.setHot(f.b, true);
    EXPECT_EQ(f.tree.image(f.b), Tree::kUnchecked + Tree::kHot);
}

TEST(CheckTree, ANewUncheckedChildMakesACheckedFolderPartlyChecked)
{
    Folder f;
    f.tree.setCheck(f.top, true);
    auto d = f.tree.insert(f.folder);
    EXPECT_EQ(f.tree.image(d), Tree::kUnchecked);
    EXPECT_EQ(f.tree.image(f.folder), Tree::kPartly);
    EXPECT_EQ(f.tree.image(f.top), Tree::kPartly);
    EXPECT_FALSE(f.tree.getCheck(f.top));
    // The page gives a new child its parent's state afterwards.
    f.tree.setCheck(d, true);
    EXPECT_EQ(f.tree.image(f.top), Tree::kChecked);
}

TEST(CheckTree, RemovingItemsTakesThemOutOfTheCounts)
{
    Folder f;
    f.tree.setCheck(f.a, true);
    f.tree.setCheck(f.b, true);
    f.tree.remove(f.c);
    EXPECT_FALSE(f.tree.exists(f.c));
    EXPECT_EQ(f.tree.descendants(f.folder), 2u);
    EXPECT_EQ(f.tree.checkedDescendants(f.folder), 2u);
    EXPECT_EQ(f.tree.image(f.folder), Tree::kChecked);
    EXPECT_FALSE(f.tree.setCheck(f.c, true)) << "a removed item takes no check";
    f.tree.remove(f.folder);
    EXPECT_EQ(f.tree.descendants(f.top), 0u);
    EXPECT_EQ(f.tree.image(f.top), Tree::kUnchecked);
}

TEST(CheckTree, SeparatorsTakeNoCheckAndDoNotHoldAFolderBack)
{
    Folder f;
    f.tree.setSeparator(f.c, true);
    EXPECT_FALSE(f.tree.setCheck(f.c, true));
    f.tree.setCheck(f.a, true);
    f.tree.setCheck(f.b, true);
    EXPECT_EQ(f.tree.image(f.folder), Tree::kChecked);
}

TEST(CheckList, TheHeaderBoxFollowsTheRowsAndSetsThemAll)
{
    CheckListState list;
    list.setRows(0);
    EXPECT_TRUE(list.headerChecked()) << "an empty list shows the header checked";
    list.setRows(3);
    EXPECT_FALSE(list.headerChecked());
    list.clickHeader();
    EXPECT_TRUE(list.row(0) && list.row(1) && list.row(2));
    list.setRow(1, false);
    EXPECT_FALSE(list.headerChecked());
    list.setRow(1, true);
    EXPECT_TRUE(list.headerChecked());
    list.clickHeader();
    list.clickHeader();
    list.clickHeader();
    EXPECT_FALSE(list.row(0) || list.row(1) || list.row(2)) << "two more clicks after checking all leave them unchecked";
}

} // namespace
} // namespace qis

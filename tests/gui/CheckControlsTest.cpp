// The check box tree and list as widgets: clicks and keys go through the
// check rules, and what the boxes show follows them.

#include "ui/controls/CXHtmlTree.h"
#include "ui/controls/SectorField.h"

#include <QHeaderView>
#include <QTest>

#include <gtest/gtest.h>

namespace qis::ui {
namespace {

struct FolderTree {
    CXHtmlTree tree;
    QTreeWidgetItem* folder;
    QTreeWidgetItem* a;
    QTreeWidgetItem* b;
    QTreeWidgetItem* c;
    FolderTree()
    {
        folder = tree.insertItem(nullptr, "Photos");
        a = tree.insertItem(folder, "a.jpg");
        b = tree.insertItem(folder, "b.jpg");
        c = tree.insertItem(folder, "c.jpg");
        tree.expandAll();
        tree.resize(300, 200);
        tree.show();
    }
    // What a click on the item's check box does: Qt flips the shown state.
    void click(QTreeWidgetItem* item)
    {
        item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
};

TEST(CheckTreeWidget, CheckingAFolderChecksItsFilesAndOneUncheckedLeavesItPartly)
{
    FolderTree t;
    int notified = 0;
    QObject::connect(&t.tree, &CXHtmlTree::checkboxClicked, [&](QTreeWidgetItem*, bool) { ++notified; });
    t.click(t.folder);
    for (auto* item : {t.folder, t.a, t.b, t.c})
        EXPECT_EQ(item->checkState(0), Qt::Checked) << item->text(0).toStdString();
    t.click(t.b);
    EXPECT_EQ(t.folder->checkState(0), Qt::PartiallyChecked);
    EXPECT_FALSE(t.tree.GetCheck(t.folder));
    EXPECT_EQ(notified, 2);
    // A click on the partly checked folder checks all of it again.
    t.click(t.folder);
    EXPECT_EQ(t.b->checkState(0), Qt::Checked);
}

TEST(CheckTreeWidget, ADisabledItemKeepsItsStateThroughClicksAndTheSpaceKey)
{
    FolderTree t;
    t.tree.setItemEnabled(t.a, false);
    EXPECT_EQ(t.tree.stateImage(t.a), CheckTreeState::kUnchecked + CheckTreeState::kDisabled);
    t.a->setCheckState(0, Qt::Checked);
    EXPECT_EQ(t.a->checkState(0), Qt::Unchecked) << "shown as the rules keep it";
    t.tree.setCurrentItem(t.b);
    QTest::keyClick(&t.tree, Qt::Key_Space);
    EXPECT_EQ(t.b->checkState(0), Qt::Checked);
    EXPECT_EQ(t.folder->checkState(0), Qt::PartiallyChecked);
}

TEST(CheckTreeWidget, ANewChildUnderACheckedFolderMakesItPartlyChecked)
{
    FolderTree t;
    t.tree.SetCheck(t.folder, true);
    t.tree.insertItem(t.folder, "d.jpg");
    EXPECT_EQ(t.folder->checkState(0), Qt::PartiallyChecked);
    t.tree.removeItem(t.folder->child(3));
    EXPECT_EQ(t.folder->checkState(0), Qt::Checked);
}

TEST(CheckListWidget, TheHeaderBoxChecksAllRowsAndFollowsThem)
{
    CCheckListCtrl list;
    list.setHeaderLabels({"Name", "Size"});
    list.clearRows();
    EXPECT_TRUE(list.headerChecked()) << "an empty list shows its header checked";
    for (const char* name : {"a", "b", "c"})
        list.addRow({name, "1"});
    EXPECT_FALSE(list.headerChecked());
    list.clickHeader();
    EXPECT_TRUE(list.rowChecked(0) && list.rowChecked(1) && list.rowChecked(2));
    EXPECT_TRUE(list.headerItem()->text(0).startsWith(QString::fromUtf8("\u2611")));
    list.topLevelItem(1)->setCheckState(0, Qt::Unchecked); // the user's click on a row
    EXPECT_FALSE(list.headerChecked());
    list.clickHeader();
    list.clickHeader();
    EXPECT_FALSE(list.rowChecked(0) || list.rowChecked(1) || list.rowChecked(2));
}

} // namespace
} // namespace qis::ui

namespace qis::ui {
namespace {

TEST(SectorFieldWidget, StepsChangeTheSectorByOneAndStopAtZero)
{
    SectorField field;
    field.setText("67584");
    field.stepBy(1);
    EXPECT_EQ(field.text(), "67585");
    field.setText("1");
    field.stepBy(-1);
    EXPECT_EQ(field.text(), "0");
    field.stepBy(-1);
    EXPECT_EQ(field.text(), "0") << "a step down is refused at 0";
    // Sector numbers past 32 bits step like any other.
    field.setText("8589934592");
    field.stepBy(-1);
    EXPECT_EQ(field.text(), "8589934591");
}

} // namespace
} // namespace qis::ui

namespace qis::ui {
namespace {

TEST(CheckTreeWidget, ChangingAnItemsTextLeavesItsCheckAlone)
{
    CXHtmlTree tree;
    QTreeWidgetItem* category = tree.insertItem(nullptr, "Pictures (1)");
    tree.insertItem(category, "1024 .jpg");
    category->setText(0, "Pictures (2)");
    category->setData(0, Qt::UserRole, 7);
    EXPECT_FALSE(tree.ownCheck(category));
    EXPECT_EQ(category->checkState(0), Qt::Unchecked);
}

} // namespace
} // namespace qis::ui

#pragma once

#include "ui/model/CheckTreeState.h"

#include <QTreeWidget>

namespace qis::ui {

// The folder tree with three-state check boxes: checking an item checks its
// whole subtree, and a folder shows checked, unchecked or partly checked
// as the items below it are. The rules are CheckTreeState's; this widget
// shows them and takes the user's clicks.
class CXHtmlTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit CXHtmlTree(QWidget* parent = nullptr);

    // A new unchecked item, the last child of `parent` (top level for null).
    QTreeWidgetItem* insertItem(QTreeWidgetItem* parent, const QString& text);
    // The children `parent` gets between these two calls are added to it in
    // one step when the second comes (a folder of thousands of files would
    // otherwise make the view relayout once per file).
    void beginChildren(QTreeWidgetItem* parent);
    void endChildren();
    // Removes the item with everything below it.
    void removeItem(QTreeWidgetItem* item);
    void removeAll();

    void SetCheck(QTreeWidgetItem* item, bool checked);
    [[nodiscard]] bool GetCheck(QTreeWidgetItem* item) const;
    // The item's own check flag (not what its children make of it).
    [[nodiscard]] bool ownCheck(QTreeWidgetItem* item) const;
    void setItemEnabled(QTreeWidgetItem* item, bool enabled);
    [[nodiscard]] int stateImage(QTreeWidgetItem* item) const;

signals:
    // After a check change, by the user or by SetCheck.
    void checkboxClicked(QTreeWidgetItem* item, bool checked);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    [[nodiscard]] CheckTreeState::ItemId idOf(QTreeWidgetItem* item) const;
    // Shows the states of the item, everything below it and its ancestors.
    void refresh(QTreeWidgetItem* item);
    void showState(QTreeWidgetItem* item);
    void userToggled(QTreeWidgetItem* item);

    CheckTreeState state_;
    bool updating_ = false;
    QTreeWidgetItem* batchParent_ = nullptr;
    QList<QTreeWidgetItem*> batch_;
};

// The file list with a check box per row and one in the first column's
// header that checks or clears every row.
class CCheckListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CCheckListCtrl(QWidget* parent = nullptr);

    QTreeWidgetItem* addRow(const QStringList& texts);
    void clearRows();
    void setRowChecked(int row, bool checked);
    [[nodiscard]] bool rowChecked(int row) const;
    [[nodiscard]] bool headerChecked() const { return state_.headerChecked(); }
    // A click on the header box.
    void clickHeader();

signals:
    void rowCheckChanged(int row, bool checked);

private:
    void showHeader();
    CheckListState state_;
    QString firstColumn_;
    bool updating_ = false;
};

} // namespace qis::ui

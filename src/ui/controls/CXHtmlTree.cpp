#include "ui/controls/CXHtmlTree.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace qis::ui {
namespace {

constexpr int kStateRole = Qt::UserRole + 40;

Qt::CheckState shown(int image)
{
    switch (image % CheckTreeState::kDisabled) {
    case CheckTreeState::kChecked:
        return Qt::Checked;
    case CheckTreeState::kPartly:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

} // namespace

CXHtmlTree::CXHtmlTree(QWidget* parent) : QTreeWidget(parent)
{
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        // Other changes of the first column (its text, icon, data) are not
        // a click on the box: the box still shows what the state says.
        if (!updating_ && column == 0 && item->checkState(0) != shown(state_.image(idOf(item))))
            userToggled(item);
    });
}

CheckTreeState::ItemId CXHtmlTree::idOf(QTreeWidgetItem* item) const
{
    return item ? static_cast<CheckTreeState::ItemId>(item->data(0, kStateRole).toUInt()) : CheckTreeState::kRoot;
}

QTreeWidgetItem* CXHtmlTree::insertItem(QTreeWidgetItem* parent, const QString& text)
{
    updating_ = true;
    auto* item = new QTreeWidgetItem({text});
    // Check states are worked out here, not by Qt's own tristate rules.
    item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsAutoTristate);
    item->setData(0, kStateRole, state_.insert(idOf(parent)));
    if (parent && parent == batchParent_) {
        showState(item);
        batch_.push_back(item);
        updating_ = false;
        return item;
    }
    if (parent)
        parent->addChild(item);
    else
        addTopLevelItem(item);
    updating_ = false;
    refresh(item);
    return item;
}

void CXHtmlTree::beginChildren(QTreeWidgetItem* parent)
{
    endChildren();
    batchParent_ = parent;
}

void CXHtmlTree::endChildren()
{
    QTreeWidgetItem* parent = batchParent_;
    batchParent_ = nullptr;
    if (!parent)
        return;
    updating_ = true;
    parent->addChildren(batch_);
    updating_ = false;
    batch_.clear();
    refresh(parent);
}

void CXHtmlTree::removeItem(QTreeWidgetItem* item)
{
    if (!item)
        return;
    QTreeWidgetItem* parent = item->parent();
    state_.remove(idOf(item));
    delete item;
    if (parent)
        refresh(parent);
}

void CXHtmlTree::removeAll()
{
    qDeleteAll(batch_);
    batch_.clear();
    batchParent_ = nullptr;
    clear();
    state_ = CheckTreeState();
}

void CXHtmlTree::showState(QTreeWidgetItem* item)
{
    const CheckTreeState::ItemId id = idOf(item);
    item->setCheckState(0, shown(state_.image(id)));
    if (state_.enabled(id))
        item->setFlags(item->flags() | Qt::ItemIsEnabled);
    else
        item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
}

void CXHtmlTree::refresh(QTreeWidgetItem* item)
{
    updating_ = true;
    std::vector<QTreeWidgetItem*> below = {item};
    while (!below.empty()) {
        QTreeWidgetItem* i = below.back();
        below.pop_back();
        showState(i);
        for (int c = 0; c < i->childCount(); ++c)
            below.push_back(i->child(c));
    }
    for (QTreeWidgetItem* a = item->parent(); a; a = a->parent())
        showState(a);
    updating_ = false;
}

void CXHtmlTree::SetCheck(QTreeWidgetItem* item, bool checked)
{
    if (!item || !state_.setCheck(idOf(item), checked)) {
        if (item)
            refresh(item); // a refused change shows the state it keeps
        return;
    }
    refresh(item);
    emit checkboxClicked(item, checked);
}

bool CXHtmlTree::GetCheck(QTreeWidgetItem* item) const { return item && state_.getCheck(idOf(item)); }

bool CXHtmlTree::ownCheck(QTreeWidgetItem* item) const
{
    return item && state_.checkedFlag(idOf(item));
}

void CXHtmlTree::setItemEnabled(QTreeWidgetItem* item, bool enabled)
{
    state_.setEnabled(idOf(item), enabled);
    refresh(item);
}

int CXHtmlTree::stateImage(QTreeWidgetItem* item) const { return state_.image(idOf(item)); }

void CXHtmlTree::userToggled(QTreeWidgetItem* item)
{
    // A click toggles what the box shows: a partly checked folder becomes checked.
    SetCheck(item, !ownCheck(item));
}

void CXHtmlTree::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && currentItem()) {
        userToggled(currentItem());
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

CCheckListCtrl::CCheckListCtrl(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == 0)
            clickHeader();
    });
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (updating_ || column != 0)
            return;
        // Other changes of the first column (its text, colour, data) are
        // not a click on the box.
        const int row = indexOfTopLevelItem(item);
        const bool checked = item->checkState(0) == Qt::Checked;
        if (row < 0 || state_.row(static_cast<std::size_t>(row)) == checked)
            return;
        state_.setRow(static_cast<std::size_t>(row), checked);
        showHeader();
        emit rowCheckChanged(row, checked);
    });
}

QTreeWidgetItem* CCheckListCtrl::addRow(const QStringList& texts)
{
    if (firstColumn_.isEmpty() && headerItem())
        firstColumn_ = headerItem()->text(0);
    updating_ = true;
    auto* item = new QTreeWidgetItem(texts);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    addTopLevelItem(item);
    updating_ = false;
    state_.setRows(static_cast<std::size_t>(topLevelItemCount()));
    showHeader();
    return item;
}

void CCheckListCtrl::clearRows()
{
    clear();
    state_.setRows(0);
    showHeader();
}

void CCheckListCtrl::setRowChecked(int row, bool checked)
{
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        updating_ = true;
        item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
        updating_ = false;
        state_.setRow(static_cast<std::size_t>(row), checked);
        showHeader();
    }
}

bool CCheckListCtrl::rowChecked(int row) const { return state_.row(static_cast<std::size_t>(row)); }

void CCheckListCtrl::clickHeader()
{
    state_.clickHeader();
    updating_ = true;
    for (int r = 0; r < topLevelItemCount(); ++r)
        topLevelItem(r)->setCheckState(0, state_.row(static_cast<std::size_t>(r)) ? Qt::Checked : Qt::Unchecked);
    updating_ = false;
    showHeader();
    for (int r = 0; r < topLevelItemCount(); ++r)
        emit rowCheckChanged(r, state_.row(static_cast<std::size_t>(r)));
}

void CCheckListCtrl::showHeader()
{
    if (firstColumn_.isEmpty() && headerItem())
        firstColumn_ = headerItem()->text(0);
    if (headerItem())
        headerItem()->setText(0, QString(state_.headerChecked() ? "\u2611 " : "\u2610 ") + firstColumn_);
}

} // namespace qis::ui
